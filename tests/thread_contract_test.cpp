// Every hook, entry point and public call of the framework, the effect, the
// component loader, the notification centre and the LV2 wrapper says which
// thread may call it: a tag ([render], [control], [delivery] or [any], with
// the states after ';') in the comment above it. A tag covers the
// declarations that follow it up to the next blank line; one above a class,
// struct or namespace covers all inside. Private members need none.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::regex kTag(R"(\[(render|control|delivery|any)([|/][a-z]+)*(;[^\]]*)?\])");

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Removes `word(...)` with balanced parentheses (attributes, alignment).
std::string StripCall(std::string text, const std::string& word) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) {
    size_t open = text.find('(', at);
    if (open == std::string::npos) break;
    int depth = 0;
    size_t end = open;
    for (; end < text.size(); ++end) {
      if (text[end] == '(') ++depth;
      if (text[end] == ')' && --depth == 0) break;
    }
    text.erase(at, end + 1 - at);
  }
  return text;
}

// Drops a leading `template <...>`.
std::string StripTemplate(std::string text) {
  while (text.rfind("template", 0) == 0) {
    const size_t open = text.find('<');
    if (open == std::string::npos) break;
    int depth = 0;
    size_t end = open;
    for (; end < text.size(); ++end) {
      if (text[end] == '<') ++depth;
      if (text[end] == '>' && --depth == 0) break;
    }
    text = Trim(text.substr(end + 1));
  }
  return text;
}

bool StartsWithWord(const std::string& text, const std::string& word) {
  return text.rfind(word, 0) == 0 && (text.size() == word.size() || !std::isalnum(static_cast<unsigned char>(text[word.size()])));
}

// The function a declaration's text declares, or "" when it declares none.
std::string DeclaredFunction(std::string text) {
  text = StripTemplate(Trim(StripCall(StripCall(text, "__attribute__"), "alignas")));
  for (const char* skip : {"using", "typedef", "static_assert", "friend", "return", "enum", "class", "struct",
                           "namespace", "union"})
    if (StartsWithWord(text, skip)) return "";
  if (text.find("= delete") != std::string::npos || text.find("= default") != std::string::npos) return "";
  const size_t paren = text.find('(');
  if (paren == std::string::npos) return "";
  const size_t operatorAt = text.find("operator");
  const size_t equals = text.find('=');
  if (equals != std::string::npos && equals < paren && (operatorAt == std::string::npos || operatorAt > equals))
    return "";  // a variable with an initializer
  if (text.compare(paren, 2, "(*") == 0) return "";  // a function-pointer field
  if (const size_t bracket = text.find('['); bracket < paren) return "";  // an array
  if (operatorAt != std::string::npos && operatorAt < paren) return text.substr(operatorAt, paren - operatorAt);
  size_t end = paren;
  while (end > 0 && text[end - 1] == ' ') --end;
  size_t begin = end;
  while (begin > 0 && (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_' ||
                       text[begin - 1] == '~'))
    --begin;
  return text.substr(begin, end - begin);
}

struct Scope {
  enum Kind { kFile, kNamespace, kClass, kBody } kind;
  bool isPublic;
  bool tagged;
};

// The declarations in source text that no tag covers, as "line: name".
std::vector<std::string> UntaggedDeclarations(const std::string& source) {
  std::vector<std::string> untagged;
  std::vector<Scope> scopes{{Scope::kFile, true, false}};
  std::istringstream lines(source);
  std::string line;
  int number = 0;
  bool groupTagged = false;
  bool inMacro = false;
  std::string statement;
  int statementLine = 0;
  bool statementTagged = false;
  int bodyDepth = 0;  // braces inside a body being skipped

  auto inBody = [&] { return bodyDepth > 0; };
  auto covered = [&] {
    for (const Scope& s : scopes)
      if (s.tagged) return true;
    return false;
  };

  while (std::getline(lines, line)) {
    ++number;
    std::string code = line;
    std::string comment;
    if (const size_t slashes = line.find("//"); slashes != std::string::npos) {
      code = line.substr(0, slashes);
      comment = line.substr(slashes);
    }
    const std::string trimmed = Trim(code);
    const bool hasTag = std::regex_search(comment, kTag);

    if (inMacro || (!inBody() && trimmed.rfind('#', 0) == 0)) {
      inMacro = !trimmed.empty() && trimmed.back() == '\\';
      continue;
    }
    if (inBody()) {
      for (char c : code) {
        if (c == '{') ++bodyDepth;
        if (c == '}') --bodyDepth;
      }
      continue;
    }
    if (trimmed.empty()) {
      if (comment.empty() && statement.empty()) groupTagged = false;
      if (hasTag) groupTagged = true;
      continue;
    }
    if (std::regex_match(trimmed, std::regex("[A-Z_][A-Z0-9_]*"))) continue;  // a bare macro
    if (std::regex_match(trimmed, std::regex("(public|protected|private):"))) {
      scopes.back().isPublic = trimmed != "private:";
      groupTagged = false;
      continue;
    }
    if (trimmed[0] == '}') {
      if (scopes.size() > 1) scopes.pop_back();
      groupTagged = false;
      continue;
    }

    if (statement.empty()) {
      statementLine = number;
      statementTagged = groupTagged || hasTag;
    }
    statement += " " + trimmed;
    statementTagged = statementTagged || hasTag;

    // Where the statement ends: a ';' or a '{' outside parentheses.
    int parens = 0;
    size_t brace = std::string::npos;
    size_t semicolon = std::string::npos;
    for (size_t i = 0; i < statement.size(); ++i) {
      const char c = statement[i];
      if (c == '(') ++parens;
      if (c == ')') --parens;
      if (parens == 0 && c == '{' && brace == std::string::npos) brace = i;
      if (parens == 0 && c == ';' && brace == std::string::npos) {
        semicolon = i;
        break;
      }
    }
    if (brace == std::string::npos && semicolon == std::string::npos) continue;

    const std::string head = Trim(statement.substr(0, brace != std::string::npos ? brace : semicolon));
    bool isPublic = true;
    for (const Scope& s : scopes) isPublic = isPublic && s.isPublic;
    if (const std::string name = DeclaredFunction(head); !name.empty() && isPublic && !statementTagged && !covered())
      untagged.push_back(std::to_string(statementLine) + ": " + name);

    if (brace != std::string::npos) {
      const std::string opener = StripTemplate(head);
      const bool isClass = StartsWithWord(opener, "class") || StartsWithWord(opener, "struct") ||
                           StartsWithWord(opener, "union");
      const bool isNamespace = StartsWithWord(opener, "namespace") || StartsWithWord(opener, "extern");
      // Count the braces after the opening one, on this line.
      int depth = 0;
      for (size_t i = brace; i < statement.size(); ++i) {
        if (statement[i] == '{') ++depth;
        if (statement[i] == '}') --depth;
      }
      if ((isClass || isNamespace) && depth > 0) {
        scopes.push_back({isClass ? Scope::kClass : Scope::kNamespace,
                          isNamespace || StartsWithWord(opener, "struct") || StartsWithWord(opener, "union"),
                          statementTagged && isPublic});
        groupTagged = false;
      } else if (depth > 0) {
        bodyDepth = depth;  // a function body or an initializer: skipped
      }
    }
    statement.clear();
  }
  return untagged;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The files whose calls must carry their thread.
std::vector<std::filesystem::path> ContractFiles() {
  const std::filesystem::path root = QELVO_SOURCE_DIR;
  std::vector<std::filesystem::path> files;
  for (const char* dir : {"framework", "effect", "lv2"})
    for (const auto& entry : std::filesystem::directory_iterator(root / dir))
      if (entry.path().extension() == ".h") files.push_back(entry.path());
  for (const char* file : {"platform/ComponentLoader.h", "platform/AudioUnitHost.h", "platform/ComponentSeam.h",
                           "platform/BundleManifest.h", "platform/Notifications.h", "platform/NotificationBus.h",
                           "platform/NotificationWire.h", "platform/ParameterListeners.h", "platform/WideNumber.h",
                           "lv2/Lv2Wrapper.cpp"})
    files.push_back(root / file);
  return files;
}

TEST(ThreadContract, EveryCallSaysItsThread) {
  for (const auto& file : ContractFiles()) {
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    for (const std::string& missing : UntaggedDeclarations(ReadFile(file)))
      ADD_FAILURE() << file.string() << ":" << missing << " has no thread tag ([render], [control], [delivery], [any])";
  }
}

// The check itself: what it takes for a declaration and what covers one.
TEST(ThreadContract, TheCheckFindsUntaggedCallsAndOnlyThose) {
  struct Case {
    const char* text;
    std::vector<std::string> untagged;
  };
  const Case cases[] = {
      {"void A();\n", {"1: A"}},
      {"// [render] x\nvoid A();\nvoid B();\n\nvoid C();\n", {"5: C"}},
      {"// [control; uninitialized]\nOSStatus A(int x,\n            int y);\n", {}},
      {"void A();  // [any]\n", {}},
      {"// [any]\nclass K {\n public:\n  void A();\n};\nvoid B();\n", {"6: B"}},
      {"class K {\n public:\n  K(const K&) = delete;\n  void A() {\n    return B();\n  }\n private:\n  void C();\n};\n",
       {"4: A"}},
      {"struct S {\n  int (*f)(int);\n  int x = g(1);\n  bool operator==(const S&) const = default;\n  S* Next();\n};\n",
       {"5: Next"}},
      {"constexpr int k = F(1);\nusing P = void (*)(int);\nstatic_assert(sizeof(int) == 4);\n", {}},
      {"template <class T>\nT Read(int id) {\n  return T{};\n}\n", {"1: Read"}},
      {"// [render] [note]\nbool operator<(const A&, const A&);\n", {}},
      {"// [note] not a thread\nvoid A();\n", {"2: A"}},
      {"class K {\n  struct N {\n    N* Next();\n  };\n public:\n  char b[Size(2)] = {};\n};\n", {}},
      {"// [any]\nint A() {\n  return 1;\n}\nint B();\n\nint C();\n", {"7: C"}},
  };
  for (const Case& c : cases) EXPECT_EQ(UntaggedDeclarations(c.text), c.untagged) << c.text;
}

}  // namespace
