// Saved states as files: the class-info dictionary as an XML property list.
// Values convert one to one: dictionaries (string keys), arrays, strings,
// byte strings, booleans, integers and reals.
#pragma once

#include <string>

#include "platform/CFRef.h"

// An XML property list of the value; throws ToolError for a value that has
// no property-list form (a non-string key, a URL, ...).
std::string PropertyListToXml(CFPropertyListRef value);
// The value of an XML property list; throws ToolError (sourceName in the
// message) when the text is no property list or holds unsupported types.
CFRef<CFPropertyListRef> PropertyListFromXml(const std::string& xml, const std::string& sourceName);

// Reads a saved-state file: must hold a dictionary.
CFRef<CFPropertyListRef> ReadStateFile(const std::string& path);
void WriteStateFile(const std::string& path, CFPropertyListRef state);
