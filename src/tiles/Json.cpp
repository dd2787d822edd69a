#include "tiles/Json.h"

#include <cstdio>
#include <cstring>

namespace meridane {

namespace {

// The top level of a JSON object: texts and numbers kept, other values skipped.
// Returns nothing for text that is not such an object.
class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : Text(text) {}

  std::optional<std::map<std::string, std::string>> Object() {
    std::map<std::string, std::string> values;
    if (!Eat('{')) return std::nullopt;
    if (Eat('}')) return values;
    do {
      std::string key;
      if (!String(key) || !Eat(':')) return std::nullopt;
      Space();
      if (Peek() == '"') {
        if (!String(values[key])) return std::nullopt;
      } else if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) {
        const std::size_t start = At;
        if (!Skip()) return std::nullopt;
        values[key] = std::string(Text.substr(start, At - start));
      } else if (!Skip()) {
        return std::nullopt;
      }
    } while (Eat(','));
    return Eat('}') ? std::optional(values) : std::nullopt;
  }

 private:
  char Peek() const { return At < Text.size() ? Text[At] : '\0'; }
  void Space() {
    while (At < Text.size() && (Text[At] == ' ' || Text[At] == '\t' || Text[At] == '\n' || Text[At] == '\r')) ++At;
  }
  bool Eat(char c) {
    Space();
    if (Peek() != c) return false;
    ++At;
    return true;
  }
  bool Hex4(unsigned& value) {
    if (At + 4 > Text.size()) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Text[At++];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
  }
  static void Utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xc0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xe0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }
  bool String(std::string& out) {
    if (!Eat('"')) return false;
    while (At < Text.size()) {
      const char c = Text[At++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (At >= Text.size()) return false;
      const char kind = Text[At++];
      unsigned code = 0;
      switch (kind) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u':
          if (!Hex4(code)) return false;
          // A pair of surrogates is one character.
          if (code >= 0xd800 && code < 0xdc00 && Text.substr(At, 2) == "\\u") {
            At += 2;
            unsigned low = 0;
            if (!Hex4(low) || low < 0xdc00 || low >= 0xe000) return false;
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
          }
          Utf8(out, code);
          break;
        default: out += kind;
      }
    }
    return false;
  }
  // Any value, nested ones too, but not nested without end: each level is a
  // call, and a small file of brackets would overflow the stack.
  static constexpr int MaxDepth = 128;
  bool Skip(int depth = 0) {
    if (depth >= MaxDepth) return false;
    Space();
    const char c = Peek();
    if (c == '"') {
      std::string ignored;
      return String(ignored);
    }
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++At;
      if (Eat(close)) return true;
      do {
        if (c == '{') {
          std::string ignored;
          if (!String(ignored) || !Eat(':')) return false;
        }
        if (!Skip(depth + 1)) return false;
      } while (Eat(','));
      return Eat(close);
    }
    const std::size_t start = At;
    while (At < Text.size() && Text[At] != '\0' && std::strchr("+-.0123456789eEtruefalsn", Text[At])) ++At;
    return At > start;
  }

  std::string_view Text;
  std::size_t At = 0;
};

}  // namespace

std::string JsonText(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::optional<std::map<std::string, std::string>> JsonTopLevel(std::string_view text) { return TJsonReader(text).Object(); }

}  // namespace meridane
