// The editor syntax files the build writes: well-formed, and complete with
// respect to the keyword table and the built-in names they are made from.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/keyword_table.h"
#include "support/test_support.h"
#include "engine/statements/builtins.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

const fs::path kSyntaxDir = VELMAR_SYNTAX_DIR;

// A strict JSON reader (RFC 8259) that keeps every string value it meets.
class JsonChecker {
 public:
  explicit JsonChecker(std::string_view text) : text_(text) {}

  bool Parse() {
    SkipSpace();
    if (!Value()) return false;
    SkipSpace();
    return pos_ == text_.size();
  }
  const std::vector<std::string>& strings() const { return strings_; }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  bool String(std::string* out) {
    if (pos_ >= text_.size() || text_[pos_] != '"') return false;
    ++pos_;
    std::string value;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      const char c = text_[pos_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        value += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      const std::string_view simple = "\"\\/bfnrt";
      if (simple.find(e) != std::string_view::npos) {
        value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      } else if (e == 'u') {
        for (int i = 0; i < 4; ++i, ++pos_) {
          if (pos_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
            return false;
          }
        }
      } else {
        return false;
      }
    }
    if (pos_ >= text_.size()) return false;
    ++pos_;
    if (out) *out = value;
    strings_.push_back(std::move(value));
    return true;
  }
  bool Number() {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() &&
           (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
            text_[pos_] == 'e' || text_[pos_] == 'E' || text_[pos_] == '+')) {
      ++pos_;
    }
    return pos_ > start;
  }
  bool Value() {
    if (pos_ >= text_.size()) return false;
    switch (text_[pos_]) {
      case '{': {
        ++pos_;
        SkipSpace();
        if (Literal("}")) return true;
        do {
          SkipSpace();
          if (!String(nullptr)) return false;
          SkipSpace();
          if (!Literal(":")) return false;
          SkipSpace();
          if (!Value()) return false;
          SkipSpace();
        } while (Literal(","));
        return Literal("}");
      }
      case '[': {
        ++pos_;
        SkipSpace();
        if (Literal("]")) return true;
        do {
          SkipSpace();
          if (!Value()) return false;
          SkipSpace();
        } while (Literal(","));
        return Literal("]");
      }
      case '"':
        return String(nullptr);
      case 't':
        return Literal("true");
      case 'f':
        return Literal("false");
      case 'n':
        return Literal("null");
      default:
        return Number();
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<std::string> strings_;
};

std::vector<std::string> WordKeywords() {
  std::vector<std::string> words;
  for (int32_t id = 1; id <= stmt::kMaxId; ++id) {
    const std::string_view keyword = KeywordOf(id);
    if (!keyword.empty() && keyword != "{" && keyword != "}") words.emplace_back(keyword);
  }
  return words;
}

// True when `name` is one of the alternatives of a "(a|b|c)" group in text.
bool IsAlternative(const std::string& text, const std::string& name) {
  for (const char* before : {"(", "|"}) {
    for (const char* after : {"|", ")"}) {
      if (text.find(before + name + after) != std::string::npos) return true;
    }
  }
  return false;
}

TEST(KateSyntax, IsWellFormedXmlWithEveryStatementAndBuiltin) {
  const fs::path file = kSyntaxDir / "velmar.xml";
  ASSERT_TRUE(fs::exists(file));
  const auto lint = testing::RunProcess({"/usr/bin/xmllint", "--noout", file.string()});
  EXPECT_EQ(lint.exitCode, 0) << lint.err;
  const std::string xml = ReadFile(file);
  EXPECT_NE(xml.find("extensions=\"*.vlm\""), std::string::npos);
  for (const std::string& keyword : WordKeywords()) {
    EXPECT_NE(xml.find("<item>" + keyword + "</item>"), std::string::npos) << keyword;
  }
  EXPECT_NE(xml.find("<DetectChar char=\"{\""), std::string::npos);
  EXPECT_NE(xml.find("<DetectChar char=\"}\""), std::string::npos);
  for (std::string_view name : BuiltinNames()) {
    EXPECT_TRUE(IsAlternative(xml, std::string(name))) << name;
  }
}

TEST(TextMateGrammar, IsValidJsonWithEveryStatementAndBuiltin) {
  const fs::path file = kSyntaxDir / "velmar.tmLanguage.json";
  ASSERT_TRUE(fs::exists(file));
  const std::string json = ReadFile(file);
  JsonChecker checker(json);
  ASSERT_TRUE(checker.Parse()) << "not valid JSON";
  std::string statements;
  std::string builtins;
  for (const std::string& s : checker.strings()) {
    if (s.rfind("(?i)^\\s*(", 0) == 0) statements = s;
    if (s.rfind("(?i)\\[@\\s*(", 0) == 0) builtins = s;
  }
  ASSERT_FALSE(statements.empty());
  ASSERT_FALSE(builtins.empty());
  for (const std::string& keyword : WordKeywords()) {
    EXPECT_TRUE(IsAlternative(statements, keyword)) << keyword;
  }
  for (std::string_view name : BuiltinNames()) {
    EXPECT_TRUE(IsAlternative(builtins, std::string(name))) << name;
  }
}

// The checker itself must reject what is not JSON, or the test above proves
// nothing.
TEST(TextMateGrammar, CheckerRejectsBrokenJson) {
  EXPECT_TRUE(JsonChecker(R"({"a": [1, "x\n", true, null], "b": {}})").Parse());
  for (const char* bad : {R"({"a": 1,})", R"({"a" 1})", R"(["\q"])", R"({"a": "x)", "[1] 2"}) {
    EXPECT_FALSE(JsonChecker(bad).Parse()) << bad;
  }
}

}  // namespace
}  // namespace velmar
