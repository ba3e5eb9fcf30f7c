// Input sources of the unit: connections to other units and render callbacks.
#include "framework/AUBase.h"
#include "platform/ComponentSeam.h"

OSStatus AUBase::SetConnection(const AudioUnitConnection& inConnection) {
  // Throws for a missing input before the source is asked anything.
  AUInputElement* input = GetInput(inConnection.destInputNumber);

  if (inConnection.sourceAudioUnit != nullptr) {
    // The input adopts the source's output format through the same checks a
    // host's format change gets; a refusal leaves the input as it was.
    AudioStreamBasicDescription sourceFormat{};
    UInt32 size = sizeof(sourceFormat);
    OSStatus result = AudioUnitGetProperty(inConnection.sourceAudioUnit,
                                           kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output,
                                           inConnection.sourceOutputNumber, &sourceFormat, &size);
    if (result != noErr) return result;

    result = DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                                 inConnection.destInputNumber, &sourceFormat,
                                 sizeof(sourceFormat));
    if (result != noErr) return result;
  }

  input->SetConnection(inConnection);
  PropertyChanged(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input,
                  inConnection.destInputNumber);
  return noErr;
}

OSStatus AUBase::SetInputCallback(UInt32 inPropertyID, AudioUnitElement inElement,
                                  AURenderCallback inProc, void* inRefCon) {
  GetInput(inElement)->SetInputCallback(inProc, inRefCon);
  PropertyChanged(inPropertyID, kAudioUnitScope_Input, inElement);
  return noErr;
}
