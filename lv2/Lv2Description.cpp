#include "lv2/Lv2Description.h"

#include <locale>
#include <sstream>

#include "lv2/Lv2Ports.h"

namespace {

constexpr const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n"
    "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n\n";

constexpr const char* kPresetsFile = "presets.ttl";

// Symbols of the ports after the parameters, in port order.
constexpr const char* kPresetSymbol = "preset";
constexpr const char* kEnabledSymbol = "enabled";
constexpr const char* kModeSymbol = "mode";
constexpr const char* kLevelSymbol = "level";
constexpr const char* kGainFactorSymbol = "gain_factor";
constexpr const char* kCutoffFactorSymbol = "cutoff_factor";

constexpr const char* kLicense = "https://qelvo.org/license";

std::string Uri(const Lv2DescriptionInput& in, bool mono) {
  return std::string(kLv2UriBase) + in.name + (mono ? kLv2MonoSuffix : "");
}

// One preset resource per factory preset and plug-in, named by its number.
std::string PresetUri(const Lv2DescriptionInput& in, bool mono, size_t number) {
  return Uri(in, mono) + "/presets/" + std::to_string(number);
}

// Turtle string literal: quotes and backslashes escaped.
std::string Literal(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Decimals always with a point and a fraction, whatever the locale.
std::string Decimal(double value) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s.setf(std::ios::fixed);
  s.precision(1);
  s << value;
  return s.str();
}

void ControlIn(std::ostream& out, uint32_t index, const char* symbol, const char* name, double def, double min,
               double max, const char* extra) {
  out << "\t\ta lv2:InputPort, lv2:ControlPort ;\n"
      << "\t\tlv2:index " << index << " ;\n"
      << "\t\tlv2:symbol \"" << symbol << "\" ;\n"
      << "\t\tlv2:name \"" << name << "\" ;\n"
      << "\t\tlv2:default " << Decimal(def) << " ;\n"
      << "\t\tlv2:minimum " << Decimal(min) << " ;\n"
      << "\t\tlv2:maximum " << Decimal(max) << " ;\n"
      << extra;
}

// The LV2 unit of a parameter unit; the table uses only these.
const char* Lv2Unit(UInt32 unit) {
  switch (unit) {
    case kAudioUnitParameterUnit_Hertz:
      return "units:hz";
    case kAudioUnitParameterUnit_Decibels:
      return "units:db";
    case kAudioUnitParameterUnit_LinearGain:
      return "units:coef";
    default:
      return nullptr;
  }
}

void ParameterIn(std::ostream& out, uint32_t index, const FilterParameter& p) {
  std::string extra;
  if (const char* unit = Lv2Unit(p.unit)) extra = std::string("\t\tunits:unit ") + unit;
  if ((p.flags & kAudioUnitParameterFlag_DisplayLogarithmic) != 0)
    extra += std::string(extra.empty() ? "" : " ;\n") + "\t\tlv2:portProperty pprops:logarithmic";
  if (!extra.empty()) extra += "\n";
  ControlIn(out, index, p.symbol, p.label, p.defaultValue, p.minValue, p.maxValue, extra.c_str());
}

// A meter: hosts show it, never write it. The ranges are for display only.
void ControlOut(std::ostream& out, uint32_t index, const char* symbol, const char* name, double min, double max,
                const char* extra) {
  out << "\t] , [\n"
      << "\t\ta lv2:OutputPort, lv2:ControlPort ;\n"
      << "\t\tlv2:index " << index << " ;\n"
      << "\t\tlv2:symbol \"" << symbol << "\" ;\n"
      << "\t\tlv2:name \"" << name << "\" ;\n"
      << extra
      << "\t\tlv2:minimum " << Decimal(min) << " ;\n"
      << "\t\tlv2:maximum " << Decimal(max) << "\n";
}

void WritePlugin(std::ostream& out, const Lv2DescriptionInput& in, bool mono) {
  const uint32_t channels = mono ? 1 : 2;
  const Lv2PortLayout ports{static_cast<uint32_t>(in.parameters.size())};
  out << "<" << Uri(in, mono) << ">\n"
      << "\ta lv2:Plugin, lv2:LowpassPlugin ;\n"
      << "\tdoap:name " << Literal(mono ? in.name + " (mono)" : in.name) << " ;\n"
      << "\tdoap:license <" << kLicense << "> ;\n"
      << "\tlv2:minorVersion " << in.minorVersion << " ;\n"
      << "\tlv2:microVersion " << in.microVersion << " ;\n"
      << "\tlv2:optionalFeature lv2:hardRTCapable, urid:map, opts:options, work:schedule, log:log ;\n"
      << "\tlv2:extensionData work:interface ;\n"
      << "\topts:supportedOption bufsz:maxBlockLength ;\n"
      << "\tlv2:port [\n";

  for (uint32_t i = 0; i < in.parameters.size(); ++i) {
    ParameterIn(out, i, in.parameters[i]);
    out << "\t] , [\n";
  }
  std::ostringstream points;
  points << "\t\tlv2:portProperty lv2:integer, lv2:enumeration ;\n\t\tlv2:scalePoint";
  for (size_t i = 0; i < in.presetNames.size(); ++i) {
    points << (i == 0 ? " " : " ,\n\t\t\t") << "[ rdfs:label " << Literal(in.presetNames[i]) << " ; rdf:value "
           << i << " ]";
  }
  points << "\n";
  ControlIn(out, ports.Preset(), kPresetSymbol, "Preset", 0, 0, in.presetNames.empty() ? 0 : in.presetNames.size() - 1,
            points.str().c_str());
  out << "\t] , [\n";
  ControlIn(out, ports.Enabled(), kEnabledSymbol, "Enabled", 1, 0, 1,
            "\t\tlv2:designation lv2:enabled ;\n\t\tlv2:portProperty lv2:integer, lv2:toggled\n");
  out << "\t] , [\n"
      << "\t\ta lv2:OutputPort, lv2:ControlPort ;\n"
      << "\t\tlv2:index " << ports.Mode() << " ;\n"
      << "\t\tlv2:symbol \"" << kModeSymbol << "\" ;\n"
      << "\t\tlv2:name \"Mode\" ;\n"
      << "\t\tlv2:minimum 0 ;\n"
      << "\t\tlv2:maximum 1 ;\n"
      << "\t\tlv2:portProperty lv2:integer, lv2:enumeration ;\n"
      << "\t\tlv2:scalePoint [ rdfs:label \"Gain\" ; rdf:value 0 ] , [ rdfs:label \"Filter\" ; rdf:value 1 ]\n";
  ControlOut(out, ports.Level(), kLevelSymbol, "Level", 0, 100, "");
  ControlOut(out, ports.GainFactor(), kGainFactorSymbol, "Gain factor", -2, 2, "\t\tunits:unit units:coef ;\n");
  ControlOut(out, ports.CutoffFactor(), kCutoffFactorSymbol, "Cutoff factor", 0, 10, "\t\tunits:unit units:coef ;\n");
  const char* sides[] = {"left", "right"};
  for (const char* direction : {"in", "out"}) {
    const bool input = direction[0] == 'i';
    for (uint32_t c = 0; c < channels; ++c) {
      const uint32_t index = input ? ports.AudioIn(c) : ports.AudioOut(channels, c);
      const std::string symbol = mono ? direction : std::string(direction) + "_" + sides[c];
      const std::string name = std::string(input ? "In" : "Out") + (mono ? "" : c == 0 ? " left" : " right");
      out << "\t] , [\n"
          << "\t\ta lv2:" << (input ? "Input" : "Output") << "Port, lv2:AudioPort ;\n"
          << "\t\tlv2:index " << index << " ;\n"
          << "\t\tlv2:symbol \"" << symbol << "\" ;\n"
          << "\t\tlv2:name \"" << name << "\"\n";
    }
  }
  out << "\t] .\n";
}

}  // namespace

std::string Lv2PluginFileName(const Lv2DescriptionInput& in) { return in.name + ".ttl"; }

void WriteLv2Manifest(std::ostream& out, const Lv2DescriptionInput& in) {
  out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
      << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
      << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n";
  for (bool mono : {false, true}) {
    out << "<" << Uri(in, mono) << ">\n"
        << "\ta lv2:Plugin ;\n"
        << "\tlv2:binary <" << in.binary << "> ;\n"
        << "\trdfs:seeAlso <" << Lv2PluginFileName(in) << "> .\n\n";
  }
  // Hosts find presets through the manifest; their content is read on demand.
  for (bool mono : {false, true}) {
    for (size_t i = 0; i < in.presetNames.size(); ++i) {
      out << "<" << PresetUri(in, mono, i) << ">\n"
          << "\ta pset:Preset ;\n"
          << "\tlv2:appliesTo <" << Uri(in, mono) << "> ;\n"
          << "\trdfs:seeAlso <" << kPresetsFile << "> .\n\n";
    }
  }
}

// A factory preset sets no parameter: it only picks the preset port's value,
// so hosts that apply it change what the preset control would.
void WriteLv2Presets(std::ostream& out, const Lv2DescriptionInput& in) {
  out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
      << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
      << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n";
  for (bool mono : {false, true}) {
    for (size_t i = 0; i < in.presetNames.size(); ++i) {
      out << "<" << PresetUri(in, mono, i) << ">\n"
          << "\ta pset:Preset ;\n"
          << "\tlv2:appliesTo <" << Uri(in, mono) << "> ;\n"
          << "\trdfs:label " << Literal(in.presetNames[i]) << " ;\n"
          << "\tlv2:port [\n"
          << "\t\tlv2:symbol \"" << kPresetSymbol << "\" ;\n"
          << "\t\tpset:value " << Decimal(static_cast<double>(i)) << "\n"
          << "\t] .\n\n";
    }
  }
}

std::string Lv2PresetsFileName() { return kPresetsFile; }

std::vector<std::string> Lv2ControlSymbols(const Lv2DescriptionInput& in) {
  std::vector<std::string> symbols;
  for (const FilterParameter& p : in.parameters) symbols.emplace_back(p.symbol);
  for (const char* fixed :
       {kPresetSymbol, kEnabledSymbol, kModeSymbol, kLevelSymbol, kGainFactorSymbol, kCutoffFactorSymbol})
    symbols.emplace_back(fixed);
  return symbols;
}

void WriteLv2Plugins(std::ostream& out, const Lv2DescriptionInput& in) {
  out << kPrefixes;
  WritePlugin(out, in, false);
  out << "\n";
  WritePlugin(out, in, true);
}
