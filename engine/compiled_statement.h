#pragma once
// Statement texts prepared once for the statements a run executes again and
// again (loop bodies and conditions). A text is cut into its fixed parts and
// its variable references as the first expansion pass finds them, and a
// parenthesised expression into evaluator steps with the references as
// leaves. A turn then reads the variables through kept slots and computes
// the result directly, but only where that gives exactly what expanding and
// evaluating the text gives: as soon as a reference is not a plain variable,
// or a value holds a bracket (it could form a reference) or is too long, the
// caller runs the textual expansion instead.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/script_program.h"
#include "values/code_page.h"
#include "values/expression_evaluator.h"
#include "values/variable_table.h"

namespace velmar {

struct ScriptContext;

// A variable's value, kept across turns: variables are never removed, so the
// slot stays valid while the table is the same.
class VariableSlot {
 public:
  explicit VariableSlot(std::string_view name) : name_(name) {}
  std::string& Get(VariableTable& table) {
    if (!value_ || epoch_ != table.epoch()) Resolve(table);
    return *value_;
  }

 private:
  void Resolve(VariableTable& table);

  std::string name_;
  std::string* value_ = nullptr;
  uint64_t epoch_ = 0;
};

class CompiledText {
 public:
  CompiledText(const CodePage& cp, std::string_view stored);
  // Writes what ExpandAndEvaluate makes of the stored text to `out` (which
  // may be one of the variables the text reads) and returns true; returns
  // false, having done nothing but read variables, when the textual
  // expansion has to run.
  bool Expand(ScriptContext& ctx, std::string& out);
  // Whether that text, trimmed, is "0" (the test that ends a loop), without
  // printing it where a whole number decides; false as Expand.
  bool ExpandsToZero(ScriptContext& ctx, bool& zero);

 private:
  // The value of the expression when every variable it reads holds a plain
  // number; reads the variables in any case.
  bool Compute(ScriptContext& ctx, double& value);
  // The variables' values written in one pass, then evaluated as text.
  bool Concatenate(ScriptContext& ctx, std::string& out);

  enum class Shape {
    kFixed,     // no reference, not an expression that evaluates: the text itself
    kNumber,    // no reference, an expression that evaluates: `number_`
    kVariables, // only variable references that no replacement can disturb
    kTextual,   // anything else: always the textual expansion
  };
  Shape shape_ = Shape::kTextual;
  std::string fixed_;
  double number_ = 0;
  std::vector<std::string> literals_;  // one more than slots_
  std::vector<VariableSlot> slots_;
  bool compiled_ = false;  // program_ holds the expression's steps
  ArithmeticProgram program_;
  std::vector<const std::string*> values_;
  std::vector<LeafNumber> leaves_;
  std::string scratch_;
  bool gbk_ = false;
};

// A statement of a run, prepared on its second execution.
class CompiledStatement {
 public:
  CompiledStatement(const CodePage& cp, const ScriptCommand& command);
  // The statement's text after ExpandAndEvaluate; false when the textual
  // expansion has to run.
  bool ExpandText(ScriptContext& ctx, std::string& out) { return text_.Expand(ctx, out); }
  bool ExpandsToZero(ScriptContext& ctx, bool& zero) { return text_.ExpandsToZero(ctx, zero); }
  // Performs a `var` statement; false, with nothing done, when ExecuteVar
  // has to run it.
  bool RunVar(ScriptContext& ctx);

 private:
  CompiledText text_;
  // `var`: its name when that is a fixed text, and its value text.
  std::unique_ptr<VariableSlot> target_;
  std::unique_ptr<CompiledText> value_;
};

}  // namespace velmar
