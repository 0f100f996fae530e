#include "tools/fvtool/depex.h"

#include "tools/fvtool/errors.h"

#include <cctype>
#include <optional>
#include <vector>

namespace fvtool {

namespace {

struct Token {
  enum Kind { kWord, kOpen, kClose, kEnd } kind = kEnd;
  std::string text;
};

bool WordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
}

std::vector<Token> Tokenize(std::string_view text, const std::string& where) {
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '(' || c == ')') {
      tokens.push_back({c == '(' ? Token::kOpen : Token::kClose, std::string(1, c)});
      ++i;
    } else if (WordChar(c)) {
      std::size_t j = i;
      while (j < text.size() && WordChar(text[j])) ++j;
      tokens.push_back({Token::kWord, std::string(text.substr(i, j - i))});
      i = j;
    } else {
      throw InputError(where + ": unexpected character '" + std::string(1, c) + "'");
    }
  }
  tokens.push_back({Token::kEnd, "end of expression"});
  return tokens;
}

bool IsCName(const std::string& word) {
  if (std::isdigit(static_cast<unsigned char>(word[0]))) return false;
  for (char c : word)
    if (c == '-') return false;
  return true;
}

class Compiler {
 public:
  Compiler(std::string_view text, const GuidNames& names, DepexKind kind)
      : where_("dependency expression '" + std::string(text) + "'"),
        tokens_(Tokenize(text, where_)),
        names_(names),
        kind_(kind) {}

  Bytes Compile() {
    if (Peek().kind == Token::kEnd) throw InputError(where_ + ": empty");
    if (IsWord("BEFORE") || IsWord("AFTER")) {
      out_.push_back(IsWord("BEFORE") ? depex::kBefore : depex::kAfter);
      const std::string op = Next().text;
      Operand(op, /*push=*/false);
      if (Peek().kind != Token::kEnd)
        throw InputError(where_ + ": " + op + " takes one GUID and stands alone");
    } else {
      if (IsWord("SOR")) {
        if (kind_ == DepexKind::kSmm)
          throw InputError(where_ + ": SOR has no meaning in an SMM dependency expression");
        Next();
        out_.push_back(depex::kSor);
      }
      Bool();
      if (Peek().kind != Token::kEnd)
        throw InputError(where_ + ": unexpected '" + Peek().text + "'");
    }
    out_.push_back(depex::kEnd);
    return out_;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() { return tokens_[pos_++]; }
  bool IsWord(const char* word) const { return Peek().kind == Token::kWord && Peek().text == word; }

  // term { (AND | OR) term }, one operator kind per level.
  void Bool() {
    Term();
    std::optional<std::string> chain;
    while (IsWord("AND") || IsWord("OR")) {
      const std::string op = Next().text;
      if (chain && *chain != op)
        throw InputError(where_ + ": AND and OR mixed without parentheses; add them, since " +
                         "the two readings differ");
      chain = op;
      Term();
      out_.push_back(op == "AND" ? depex::kAnd : depex::kOr);
    }
  }

  void Term() {
    if (IsWord("NOT")) {
      Next();
      Term();
      out_.push_back(depex::kNot);
      return;
    }
    Factor();
  }

  void Factor() {
    const Token& t = Peek();
    if (t.kind == Token::kOpen) {
      Next();
      Bool();
      if (Peek().kind != Token::kClose)
        throw InputError(where_ + ": expected ')' before '" + Peek().text + "'");
      Next();
    } else if (IsWord("TRUE") || IsWord("FALSE")) {
      out_.push_back(Next().text == "TRUE" ? depex::kTrue : depex::kFalse);
    } else if (t.kind == Token::kWord) {
      Operand("", /*push=*/true);
    } else {
      throw InputError(where_ + ": expected a GUID, TRUE, FALSE, NOT or '(' before '" + t.text +
                       "'");
    }
  }

  // A GUID name or literal, pushed (PUSH GUID) or as the operand of BEFORE/AFTER.
  void Operand(const std::string& after, bool push) {
    const Token& t = Next();
    static const char* const kKeywords[] = {"AND",    "OR",    "NOT", "TRUE", "FALSE",
                                            "BEFORE", "AFTER", "SOR", "END"};
    if (t.kind == Token::kWord) {
      for (const char* k : kKeywords) {
        if (t.text != k) continue;
        if (t.text == "END") throw InputError(where_ + ": END is added by fvtool; leave it out");
        if (t.text == "BEFORE" || t.text == "AFTER" || t.text == "SOR")
          throw InputError(where_ + ": " + t.text + " may only start the expression");
        throw InputError(where_ + ": expected a GUID" +
                         (after.empty() ? std::string() : " after " + after) + ", not " + t.text);
      }
    }
    if (t.kind != Token::kWord)
      throw InputError(where_ + ": expected a GUID" +
                       (after.empty() ? std::string() : " after " + after) + " before '" + t.text +
                       "'");
    Guid guid;
    if (const auto literal = ParseRegistryGuid(t.text)) {
      guid = *literal;
    } else if (!IsCName(t.text)) {
      throw InputError(where_ + ": '" + t.text +
                       "' is neither a GUID name nor a registry-format GUID");
    } else {
      const auto it = names_.find(t.text);
      if (it == names_.end())
        throw Refusal(where_ + ": unknown GUID name " + t.text +
                      " (not declared in the --dec files, not one of fvtool's standard names)");
      guid = it->second;
    }
    if (push) out_.push_back(depex::kPush);
    out_.insert(out_.end(), guid.bytes.begin(), guid.bytes.end());
  }

  std::string where_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  const GuidNames& names_;
  DepexKind kind_;
  Bytes out_;
};

}  // namespace

Bytes CompileDepex(std::string_view expression, const GuidNames& names, DepexKind kind) {
  return Compiler(expression, names, kind).Compile();
}

}  // namespace fvtool
