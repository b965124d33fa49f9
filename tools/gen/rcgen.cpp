// rcgen: compiles the part of a Win32 resource script that Quorvanta uses
// (DIALOGEX templates and one VERSIONINFO) into C++ tables for the dialog
// model. It reads what windres reads: `#pragma code_page`, `#include "..."`
// for #define lines, style names with `|` and `NOT`, and the statement
// defaults of the Microsoft resource compiler. Anything else is an error
// naming the file and line, so the script cannot silently drift from the
// tables.
//
// Usage: qv_rcgen INPUT.rc OUTPUT.cpp
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/text_convert.h"

namespace {

struct Token {
  enum Kind { kWord, kNumber, kString, kPunct, kEnd } kind = kEnd;
  std::string text;  // word, punctuation, or string bytes (UTF-8)
  std::uint32_t number = 0;
  bool long_number = false;
  int line = 0;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  std::fprintf(stderr, "rcgen: %s: %s\n", where.c_str(), what.c_str());
  std::exit(1);
}

// Win32 constants that the script may name, with their documented values.
const std::map<std::string, std::uint32_t>& KnownNames() {
  static const std::map<std::string, std::uint32_t> names = {
      {"WS_POPUP", WS_POPUP},
      {"WS_CHILD", WS_CHILD},
      {"WS_VISIBLE", WS_VISIBLE},
      {"WS_DISABLED", WS_DISABLED},
      {"WS_CLIPCHILDREN", WS_CLIPCHILDREN},
      {"WS_CAPTION", WS_CAPTION},
      {"WS_BORDER", WS_BORDER},
      {"WS_DLGFRAME", WS_DLGFRAME},
      {"WS_VSCROLL", WS_VSCROLL},
      {"WS_SYSMENU", WS_SYSMENU},
      {"WS_THICKFRAME", WS_THICKFRAME},
      {"WS_GROUP", WS_GROUP},
      {"WS_TABSTOP", WS_TABSTOP},
      {"WS_EX_DLGMODALFRAME", WS_EX_DLGMODALFRAME},
      {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE},
      {"WS_EX_STATICEDGE", WS_EX_STATICEDGE},
      {"DS_SYSMODAL", DS_SYSMODAL},
      {"DS_SETFONT", DS_SETFONT},
      {"DS_MODALFRAME", DS_MODALFRAME},
      {"BS_PUSHBUTTON", BS_PUSHBUTTON},
      {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
      {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
      {"SS_LEFT", SS_LEFT},
      {"SS_CENTER", SS_CENTER},
      {"SS_RIGHT", SS_RIGHT},
      {"SS_NOTIFY", SS_NOTIFY},
      {"SS_CENTERIMAGE", SS_CENTERIMAGE},
      {"SS_SUNKEN", SS_SUNKEN},
      {"SBS_HORZ", SBS_HORZ},
      {"SBS_VERT", SBS_VERT},
      {"IDOK", 1},
      {"IDCANCEL", 2},
      {"VS_VERSION_INFO", 1},
  };
  return names;
}

class Lexer {
 public:
  Lexer(std::string path, std::map<std::string, std::uint32_t>* defines)
      : path_(std::move(path)), defines_(defines) {
    std::ifstream in(path_, std::ios::binary);
    if (!in) Fail(path_, "cannot be read");
    std::stringstream buffer;
    buffer << in.rdbuf();
    text_ = buffer.str();
  }

  std::string Where(int line) const { return path_ + ":" + std::to_string(line); }
  int code_page() const { return code_page_; }

  Token Next() {
    if (has_peek_) {
      has_peek_ = false;
      return peek_;
    }
    return Scan();
  }
  const Token& Peek() {
    if (!has_peek_) {
      peek_ = Scan();
      has_peek_ = true;
    }
    return peek_;
  }

 private:
  Token Scan() {
    for (;;) {
      SkipBlanks();
      if (pos_ >= text_.size()) return Token{Token::kEnd, "", 0, false, line_};
      char c = text_[pos_];
      if (c == '#' && at_line_start_) {
        Directive();
        continue;
      }
      at_line_start_ = false;
      Token token;
      token.line = line_;
      if (c == '"') {
        token.kind = Token::kString;
        token.text = ScanString();
        return token;
      }
      if (std::isdigit(static_cast<unsigned char>(c))) {
        token.kind = Token::kNumber;
        std::size_t end = pos_;
        while (end < text_.size() && std::isalnum(static_cast<unsigned char>(text_[end]))) ++end;
        std::string digits = text_.substr(pos_, end - pos_);
        pos_ = end;
        if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l')) {
          token.long_number = true;
          digits.pop_back();
        }
        char* rest = nullptr;
        unsigned long value = std::strtoul(digits.c_str(), &rest, 0);
        if (rest == nullptr || *rest != '\0') Fail(Where(line_), "bad number " + digits);
        token.number = static_cast<std::uint32_t>(value);
        return token;
      }
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        std::size_t end = pos_;
        while (end < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_'))
          ++end;
        token.text = text_.substr(pos_, end - pos_);
        pos_ = end;
        auto define = defines_->find(token.text);
        if (define != defines_->end()) {
          token.kind = Token::kNumber;
          token.number = define->second;
        } else {
          token.kind = Token::kWord;
        }
        return token;
      }
      if (c == ',' || c == '|' || c == '{' || c == '}' || c == '(' || c == ')') {
        token.kind = Token::kPunct;
        token.text = std::string(1, c);
        ++pos_;
        return token;
      }
      Fail(Where(line_), std::string("unexpected character '") + c + "'");
    }
  }

  void SkipBlanks() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        at_line_start_ = true;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
        std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string::npos) Fail(Where(line_), "unterminated comment");
        for (std::size_t i = pos_; i < end; ++i)
          if (text_[i] == '\n') ++line_;
        pos_ = end + 2;
      } else {
        break;
      }
    }
  }

  // A quoted string: "" stands for one quote, as the resource compiler reads it.
  std::string ScanString() {
    std::string out;
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') Fail(Where(line_), "unterminated string");
      char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          out += '"';
          ++pos_;
          continue;
        }
        return out;
      }
      if (c == '\\' && pos_ < text_.size()) {
        char e = text_[pos_++];
        if (e == 'n') {
          out += '\n';
        } else if (e == 'r') {
          out += '\r';
        } else if (e == 't') {
          out += '\t';
        } else if (e == '\\') {
          out += '\\';
        } else {
          Fail(Where(line_), std::string("unknown escape \\") + e);
        }
        continue;
      }
      out += c;
    }
  }

  void Directive() {
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    std::string line = text_.substr(pos_, end - pos_);
    pos_ = end;
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "#pragma") {
      std::string rest;
      std::getline(words, rest);
      std::size_t open = rest.find("code_page(");
      if (open == std::string::npos) Fail(Where(line_), "unknown #pragma");
      code_page_ = std::atoi(rest.c_str() + open + 10);
      if (code_page_ != 65001 && code_page_ != 932)
        Fail(Where(line_), "only code pages 65001 and 932 are supported");
    } else if (word == "#include") {
      std::string name;
      words >> name;
      if (name.size() > 2 && name.front() == '"') {
        std::string dir = path_.substr(0, path_.find_last_of('/') + 1);
        ReadDefines(dir + name.substr(1, name.size() - 2));
      } else if (name.empty() || name.front() != '<') {
        Fail(Where(line_), "bad #include");
      }
      // System headers only supply the style names, which KnownNames holds.
    } else if (word == "#define") {
      AddDefine(line, Where(line_));
    } else {
      Fail(Where(line_), "unsupported directive " + word);
    }
  }

  void AddDefine(const std::string& line, const std::string& where) {
    std::istringstream words(line);
    std::string directive, name, value;
    words >> directive >> name >> value;
    if (name.empty() || value.empty()) Fail(where, "bad #define");
    char* rest = nullptr;
    unsigned long number = std::strtoul(value.c_str(), &rest, 0);
    if (rest == nullptr || *rest != '\0') Fail(where, "#define must give a number");
    (*defines_)[name] = static_cast<std::uint32_t>(number);
  }

  void ReadDefines(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail(path, "cannot be read");
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line.compare(first, 7, "#define") != 0) continue;
      AddDefine(line.substr(first), path + ":" + std::to_string(number));
    }
  }

  std::string path_;
  std::map<std::string, std::uint32_t>* defines_;
  std::string text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool at_line_start_ = true;
  int code_page_ = 0;
  Token peek_;
  bool has_peek_ = false;
};

struct Control {
  std::string class_name;
  int id = 0;
  std::string text;  // CP932
  std::uint32_t style = 0;
  std::uint32_t ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
};

struct Dialog {
  std::string name;
  std::uint32_t style = 0;
  std::uint32_t ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  int font_points = 0;
  std::string font_face;
  std::vector<Control> controls;
};

struct VersionNode {
  std::string key;
  bool is_block = false;
  bool is_text = false;
  std::string text;                  // UTF-8, for a text value
  std::vector<std::uint16_t> words;  // for a binary value
  std::vector<VersionNode> children;
};

struct VersionInfo {
  bool present = false;
  std::uint32_t file_ms = 0, file_ls = 0, product_ms = 0, product_ls = 0;
  std::uint32_t flags_mask = 0, flags = 0, os = 0, type = 0, subtype = 0;
  std::vector<VersionNode> children;
};

class Parser {
 public:
  explicit Parser(Lexer* lexer) : lex_(lexer) {}

  void Run(std::vector<Dialog>* dialogs, VersionInfo* version) {
    for (;;) {
      Token name = lex_->Next();
      if (name.kind == Token::kEnd) return;
      if (name.kind != Token::kWord && name.kind != Token::kNumber)
        Fail(lex_->Where(name.line), "resource name expected");
      Token kind = ExpectWord();
      if (kind.text == "DIALOGEX") {
        dialogs->push_back(ParseDialog(name.text));
      } else if (kind.text == "VERSIONINFO") {
        if (version->present) Fail(lex_->Where(kind.line), "a second VERSIONINFO");
        ParseVersion(version);
      } else {
        Fail(lex_->Where(kind.line), "unsupported resource type " + kind.text);
      }
    }
  }

 private:
  Token ExpectWord() {
    Token t = lex_->Next();
    if (t.kind != Token::kWord) Fail(lex_->Where(t.line), "keyword expected");
    return t;
  }
  int Number() {
    Token t = lex_->Next();
    if (t.kind != Token::kNumber) Fail(lex_->Where(t.line), "number expected");
    return static_cast<int>(t.number);
  }
  std::string String() {
    Token t = lex_->Next();
    if (t.kind != Token::kString) Fail(lex_->Where(t.line), "string expected");
    return t.text;
  }
  void Comma() {
    Token t = lex_->Next();
    if (t.kind != Token::kPunct || t.text != ",") Fail(lex_->Where(t.line), "',' expected");
  }
  bool OptionalComma() {
    const Token& t = lex_->Peek();
    if (t.kind == Token::kPunct && t.text == ",") {
      lex_->Next();
      return true;
    }
    return false;
  }
  bool IsBegin(const Token& t) {
    return (t.kind == Token::kWord && t.text == "BEGIN") ||
           (t.kind == Token::kPunct && t.text == "{");
  }
  bool IsEnd(const Token& t) {
    return (t.kind == Token::kWord && t.text == "END") ||
           (t.kind == Token::kPunct && t.text == "}");
  }
  std::string Cp932(const std::string& utf8, int line) {
    bool ascii = true;
    for (unsigned char c : utf8) ascii = ascii && c < 0x80;
    if (ascii) return utf8;
    if (lex_->code_page() != 65001)
      Fail(lex_->Where(line), "non-ASCII text needs #pragma code_page(65001)");
    std::string out;
    if (!Utf8ToCp932(utf8, &out)) Fail(lex_->Where(line), "text has no code page 932 form");
    return out;
  }

  // A style expression: terms joined by '|', each a number, a known name or
  // NOT followed by one (which clears those bits from what came before).
  std::uint32_t Style(std::uint32_t start) {
    std::uint32_t value = start;
    for (;;) {
      Token t = lex_->Next();
      bool negate = false;
      if (t.kind == Token::kWord && t.text == "NOT") {
        negate = true;
        t = lex_->Next();
      }
      std::uint32_t term = 0;
      if (t.kind == Token::kNumber) {
        term = t.number;
      } else if (t.kind == Token::kWord) {
        auto it = KnownNames().find(t.text);
        if (it == KnownNames().end()) Fail(lex_->Where(t.line), "unknown name " + t.text);
        term = it->second;
      } else {
        Fail(lex_->Where(t.line), "style expected");
      }
      value = negate ? (value & ~term) : (value | term);
      const Token& next = lex_->Peek();
      if (next.kind == Token::kPunct && next.text == "|") {
        lex_->Next();
        continue;
      }
      return value;
    }
  }

  Dialog ParseDialog(const std::string& name) {
    Dialog d;
    d.name = name;
    d.x = Number();
    Comma();
    d.y = Number();
    Comma();
    d.cx = Number();
    Comma();
    d.cy = Number();
    for (;;) {
      Token t = lex_->Next();
      if (IsBegin(t)) break;
      if (t.kind != Token::kWord) Fail(lex_->Where(t.line), "dialog statement expected");
      if (t.text == "STYLE") {
        d.style = Style(0);
      } else if (t.text == "EXSTYLE") {
        d.ex_style = Style(0);
      } else if (t.text == "CAPTION") {
        d.caption = Cp932(String(), t.line);
      } else if (t.text == "FONT") {
        d.font_points = Number();
        Comma();
        d.font_face = Cp932(String(), t.line);
        while (OptionalComma()) Number();  // weight, italic, character set
        d.style |= DS_SETFONT;
      } else {
        Fail(lex_->Where(t.line), "unsupported dialog statement " + t.text);
      }
    }
    for (;;) {
      Token t = lex_->Next();
      if (IsEnd(t)) break;
      if (t.kind != Token::kWord) Fail(lex_->Where(t.line), "control statement expected");
      d.controls.push_back(ParseControl(t));
    }
    return d;
  }

  // Control statements with the resource compiler's defaults: without a style
  // the statement's default applies; with one, the statement's base style and
  // WS_CHILD | WS_VISIBLE are kept and the given terms are applied to them.
  Control ParseControl(const Token& statement) {
    struct Kind {
      const char* word;
      const char* class_name;
      bool has_text;
      std::uint32_t base;
      std::uint32_t default_style;
    };
    static const Kind kinds[] = {
        {"PUSHBUTTON", "Button", true, BS_PUSHBUTTON, BS_PUSHBUTTON | WS_TABSTOP},
        {"DEFPUSHBUTTON", "Button", true, BS_DEFPUSHBUTTON, BS_DEFPUSHBUTTON | WS_TABSTOP},
        {"AUTORADIOBUTTON", "Button", true, BS_AUTORADIOBUTTON, BS_AUTORADIOBUTTON | WS_TABSTOP},
        {"LTEXT", "Static", true, SS_LEFT, SS_LEFT | WS_GROUP},
        {"CTEXT", "Static", true, SS_CENTER, SS_CENTER | WS_GROUP},
        {"RTEXT", "Static", true, SS_RIGHT, SS_RIGHT | WS_GROUP},
        {"SCROLLBAR", "ScrollBar", false, SBS_HORZ, SBS_HORZ},
    };
    Control c;
    const std::uint32_t implied = WS_CHILD | WS_VISIBLE;
    if (statement.text == "CONTROL") {
      c.text = Cp932(String(), statement.line);
      Comma();
      c.id = Number();
      Comma();
      c.class_name = String();
      Comma();
      c.style = Style(implied);
      Comma();
      Position(&c);
      if (OptionalComma()) c.ex_style = Style(0);
      return c;
    }
    for (const Kind& kind : kinds) {
      if (statement.text != kind.word) continue;
      c.class_name = kind.class_name;
      if (kind.has_text) {
        c.text = Cp932(String(), statement.line);
        Comma();
      }
      c.id = Number();
      Comma();
      Position(&c);
      c.style = implied | kind.default_style;
      if (OptionalComma()) {
        c.style = Style(implied | kind.base);
        if (OptionalComma()) c.ex_style = Style(0);
      }
      return c;
    }
    Fail(lex_->Where(statement.line), "unsupported control statement " + statement.text);
  }

  void Position(Control* c) {
    c->x = Number();
    Comma();
    c->y = Number();
    Comma();
    c->cx = Number();
    Comma();
    c->cy = Number();
  }

  void FourPart(std::uint32_t* ms, std::uint32_t* ls) {
    std::uint32_t parts[4] = {};
    for (int i = 0; i < 4; ++i) {
      if (i > 0) Comma();
      parts[i] = static_cast<std::uint32_t>(Number()) & 0xFFFF;
    }
    *ms = (parts[0] << 16) | parts[1];
    *ls = (parts[2] << 16) | parts[3];
  }

  void ParseVersion(VersionInfo* v) {
    v->present = true;
    for (;;) {
      Token t = lex_->Next();
      if (IsBegin(t)) break;
      if (t.kind != Token::kWord) Fail(lex_->Where(t.line), "version statement expected");
      if (t.text == "FILEVERSION") {
        FourPart(&v->file_ms, &v->file_ls);
      } else if (t.text == "PRODUCTVERSION") {
        FourPart(&v->product_ms, &v->product_ls);
      } else if (t.text == "FILEFLAGSMASK") {
        v->flags_mask = static_cast<std::uint32_t>(Number());
      } else if (t.text == "FILEFLAGS") {
        v->flags = static_cast<std::uint32_t>(Number());
      } else if (t.text == "FILEOS") {
        v->os = static_cast<std::uint32_t>(Number());
      } else if (t.text == "FILETYPE") {
        v->type = static_cast<std::uint32_t>(Number());
      } else if (t.text == "FILESUBTYPE") {
        v->subtype = static_cast<std::uint32_t>(Number());
      } else {
        Fail(lex_->Where(t.line), "unsupported version statement " + t.text);
      }
    }
    v->children = VersionBlockBody();
  }

  std::vector<VersionNode> VersionBlockBody() {
    std::vector<VersionNode> nodes;
    for (;;) {
      Token t = lex_->Next();
      if (IsEnd(t)) return nodes;
      if (t.kind != Token::kWord) Fail(lex_->Where(t.line), "BLOCK or VALUE expected");
      VersionNode node;
      node.key = String();
      if (t.text == "BLOCK") {
        node.is_block = true;
        Token begin = lex_->Next();
        if (!IsBegin(begin)) Fail(lex_->Where(begin.line), "BEGIN expected");
        node.children = VersionBlockBody();
      } else if (t.text == "VALUE") {
        while (OptionalComma()) {
          const Token& next = lex_->Peek();
          if (next.kind == Token::kString) {
            node.is_text = true;
            node.text += String();
          } else {
            Token n = lex_->Next();
            if (n.kind != Token::kNumber) Fail(lex_->Where(n.line), "value expected");
            node.words.push_back(static_cast<std::uint16_t>(n.number & 0xFFFF));
            if (n.long_number) node.words.push_back(static_cast<std::uint16_t>(n.number >> 16));
          }
        }
        if (node.is_text && !node.words.empty())
          Fail(lex_->Where(t.line), "a VALUE mixes text and numbers");
      } else {
        Fail(lex_->Where(t.line), "BLOCK or VALUE expected");
      }
      nodes.push_back(std::move(node));
    }
  }

  Lexer* lex_;
};

// --- the binary VS_VERSIONINFO layout: each node is wLength, wValueLength,
// wType, a UTF-16 key with its terminator, padding to 4 bytes, the value,
// padding to 4 bytes, then the children.

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0;
    int extra = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else {
      cp = c & 0x07;
      extra = 3;
    }
    ++i;
    for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

class Blob {
 public:
  std::vector<unsigned char> bytes;
  void Word(std::uint16_t w) {
    bytes.push_back(static_cast<unsigned char>(w & 0xFF));
    bytes.push_back(static_cast<unsigned char>(w >> 8));
  }
  void Dword(std::uint32_t d) {
    Word(static_cast<std::uint16_t>(d & 0xFFFF));
    Word(static_cast<std::uint16_t>(d >> 16));
  }
  void Text(const std::string& utf8) {
    for (char16_t c : Utf16(utf8)) Word(static_cast<std::uint16_t>(c));
    Word(0);
  }
  void Align() {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
  }
  void PatchWord(std::size_t at, std::size_t value) {
    bytes[at] = static_cast<unsigned char>(value & 0xFF);
    bytes[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
  }
};

void WriteNode(Blob* blob, const VersionNode& node) {
  std::size_t start = blob->bytes.size();
  blob->Word(0);  // wLength, patched below
  std::uint16_t value_length = 0;
  if (node.is_text) value_length = static_cast<std::uint16_t>(Utf16(node.text).size() + 1);
  if (!node.is_block && !node.is_text)
    value_length = static_cast<std::uint16_t>(node.words.size() * 2);
  blob->Word(value_length);
  blob->Word(node.is_block || node.is_text ? 1 : 0);
  blob->Text(node.key);
  blob->Align();
  if (node.is_text) {
    blob->Text(node.text);
  } else {
    for (std::uint16_t w : node.words) blob->Word(w);
  }
  for (const VersionNode& child : node.children) {
    blob->Align();
    WriteNode(blob, child);
  }
  blob->PatchWord(start, blob->bytes.size() - start);
}

std::vector<unsigned char> VersionBytes(const VersionInfo& v) {
  Blob blob;
  if (!v.present) return blob.bytes;
  blob.Word(0);
  blob.Word(52);  // sizeof VS_FIXEDFILEINFO
  blob.Word(0);
  blob.Text("VS_VERSION_INFO");
  blob.Align();
  blob.Dword(0xFEEF04BD);
  blob.Dword(0x00010000);
  blob.Dword(v.file_ms);
  blob.Dword(v.file_ls);
  blob.Dword(v.product_ms);
  blob.Dword(v.product_ls);
  blob.Dword(v.flags_mask);
  blob.Dword(v.flags);
  blob.Dword(v.os);
  blob.Dword(v.type);
  blob.Dword(v.subtype);
  blob.Dword(0);
  blob.Dword(0);
  for (const VersionNode& child : v.children) {
    blob.Align();
    WriteNode(&blob, child);
  }
  blob.PatchWord(0, blob.bytes.size());
  return blob.bytes;
}

std::string CString(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X\"\"", c);
      out += hex;
    }
  }
  return out + "\"";
}

void Write(const std::string& path, const std::vector<Dialog>& dialogs, const VersionInfo& v) {
  std::ostringstream out;
  out << "// Generated by qv_rcgen from resources/quorvanta.rc. Do not edit.\n"
         "#include \"platform/dialogs/resource_tables.h\"\n\n"
         "namespace resource_tables {\nnamespace {\n";
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    out << "const ControlTemplate kControls" << i << "[] = {\n";
    for (const Control& c : dialogs[i].controls) {
      char numbers[160];
      std::snprintf(numbers, sizeof numbers, "0x%08XU, 0x%08XU, %d, %d, %d, %d", c.style,
                    c.ex_style, c.x, c.y, c.cx, c.cy);
      out << "    {" << CString(c.class_name) << ", " << c.id << ", " << CString(c.text) << ", "
          << numbers << "},\n";
    }
    out << "};\n";
  }
  out << "}  // namespace\n\nconst DialogTemplate kDialogs[] = {\n";
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    const Dialog& d = dialogs[i];
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "0x%08XU, 0x%08XU, %d, %d, %d, %d", d.style, d.ex_style,
                  d.x, d.y, d.cx, d.cy);
    out << "    {" << CString(d.name) << ", " << numbers << ", " << CString(d.caption) << ", "
        << d.font_points << ", " << CString(d.font_face) << ", kControls" << i << ", "
        << d.controls.size() << "},\n";
  }
  out << "};\nconst int kDialogCount = " << dialogs.size() << ";\n\n";
  std::vector<unsigned char> bytes = VersionBytes(v);
  out << "const unsigned char kVersionResource[] = {";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) out << "\n   ";
    out << " " << static_cast<int>(bytes[i]) << ",";
  }
  if (bytes.empty()) out << "0";
  out << "\n};\nconst unsigned kVersionResourceSize = " << bytes.size()
      << ";\n\n}  // namespace resource_tables\n";
  std::ofstream file(path, std::ios::binary);
  file << out.str();
  if (!file) Fail(path, "cannot be written");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qv_rcgen INPUT.rc OUTPUT.cpp\n");
    return 2;
  }
  std::map<std::string, std::uint32_t> defines;
  Lexer lexer(argv[1], &defines);
  Parser parser(&lexer);
  std::vector<Dialog> dialogs;
  VersionInfo version;
  parser.Run(&dialogs, &version);
  for (const Dialog& d : dialogs)
    for (const Control& c : d.controls)
      if (c.id == 0 && c.class_name != "Static") Fail(argv[1], "control without id in " + d.name);
  Write(argv[2], dialogs, version);
  return 0;
}
