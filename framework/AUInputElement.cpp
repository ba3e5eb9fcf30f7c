#include "framework/AUInputElement.h"

#include "framework/AUBase.h"
#include "platform/ComponentSeam.h"

AUInputElement::AUInputElement(AUBase* audioUnit) : AUIOElement(audioUnit) {}

AUInputElement::~AUInputElement() = default;

OSStatus AUInputElement::SetStreamFormat(const CAStreamBasicDescription& format) {
  const OSStatus result = AUIOElement::SetStreamFormat(format);
  if (result == noErr) AllocateBuffer();
  return result;
}

void AUInputElement::SetConnection(const AudioUnitConnection& conn) {
  if (conn.sourceAudioUnit == nullptr) {
    Disconnect();
    return;
  }
  // Without a direct entry every pull goes through AudioUnitRender.
  AudioUnitRenderProc proc = nullptr;
  UInt32 size = sizeof(proc);
  if (AudioUnitGetProperty(conn.sourceAudioUnit, kAudioUnitProperty_FastDispatch,
                           kAudioUnitScope_Global, kAudioUnitRenderSelect, &proc,
                           &size) != noErr ||
      size != sizeof(proc))
    proc = nullptr;

  // The source's fields are complete before a pull can see the new type.
  mConnection = conn;
  mConnRenderProc = proc;
  mConnInstanceStorage = GetComponentInstanceStorage(conn.sourceAudioUnit);
  mInputType.store(kFromConnection, std::memory_order_release);
  AllocateBuffer();
}

void AUInputElement::Disconnect() {
  mInputType.store(kNoInput, std::memory_order_release);
  DeallocateBuffer();
}

void AUInputElement::SetInputCallback(AURenderCallback proc, void* refCon) {
  if (proc == nullptr) {
    Disconnect();
    return;
  }
  mInputProc = proc;
  mInputProcRefCon = refCon;
  mInputType.store(kFromCallback, std::memory_order_release);
  AllocateBuffer();
}

OSStatus AUInputElement::PullInput(AudioUnitRenderActionFlags& ioActionFlags,
                                   const AudioTimeStamp& inTimeStamp, AudioUnitElement inElement,
                                   UInt32 nFrames) {
  const EInputType type = GetInputType();
  if (type == kNoInput) return kAudioUnitErr_NoConnection;

  AUBufferList& buffers = IOBuffer();
  // A callback may be asked for more than the memory was laid out for.
  if (NeedsBufferSpace() && buffers.GetAllocatedFrames() < nFrames)
    buffers.Allocate(GetStreamFormat(), nFrames);

  OSStatus result;
  if (type == kFromConnection) {
    // The source writes its own buffer pointers into the list.
    AudioBufferList& list = buffers.PrepareNullBuffer(GetStreamFormat(), nFrames);
    // A source closed without being disconnected leaves its direct entry and
    // object behind; only a source still open under that object is called
    // directly, anything else goes through the checked call and fails there.
    if (mConnRenderProc != nullptr &&
        GetComponentInstanceStorage(mConnection.sourceAudioUnit) == mConnInstanceStorage)
      result = mConnRenderProc(mConnInstanceStorage, &ioActionFlags, &inTimeStamp,
                               mConnection.sourceOutputNumber, nFrames, &list);
    else
      result = AudioUnitRender(mConnection.sourceAudioUnit, &ioActionFlags, &inTimeStamp,
                               mConnection.sourceOutputNumber, nFrames, &list);
  } else {
    AudioBufferList& list = buffers.PrepareBuffer(GetStreamFormat(), nFrames);
    result = mInputProc(mInputProcRefCon, &ioActionFlags, &inTimeStamp, inElement, nFrames, &list);
  }

  // The source may have gone while it ran; don't hand on its data.
  if (GetInputType() == kNoInput) return kAudioUnitErr_NoConnection;
  return result;
}
