#include "engine/compiled_statement.h"

#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"
#include "values/reference_scanner.h"
#include "values/variable_table.h"

namespace velmar {

namespace {

bool IsExpressionText(std::string_view text) {
  return !text.empty() && text.front() == '(' && text.back() == ')';
}

// A value that can be written in as it is: with a bracket it could complete
// or form a reference, and in GBK a byte above 0x7f could be a lead byte
// that pairs with the text after it.
bool IsInertValue(std::string_view value, bool gbk) {
  for (const char c : value) {
    if (c == '[' || c == ']') return false;
    if (gbk && static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

void VariableSlot::Resolve(VariableTable& table) {
  value_ = &table.Slot(name_);
  epoch_ = table.epoch();
}

CompiledText::CompiledText(const CodePage& cp, std::string_view stored) : gbk_(cp.IsGbk()) {
  std::vector<ReferenceMatch> matches;
  if (stored.find('[') != std::string_view::npos) FindReferences(cp, stored, matches);
  if (matches.empty()) {
    if (IsExpressionText(stored) && EvaluateArithmetic(stored, number_)) {
      shape_ = Shape::kNumber;
    } else {
      shape_ = Shape::kFixed;
      fixed_ = std::string(stored);
    }
    return;
  }
  // Other sigils run code (and may have effects), and a reference inside an
  // open `[` can complete an outer one when it is replaced.
  for (const ReferenceMatch& m : matches) {
    if (m.sigil != '#' || m.enclosed) return;
  }
  shape_ = Shape::kVariables;
  std::size_t pos = 0;
  for (const ReferenceMatch& m : matches) {
    literals_.emplace_back(stored.substr(pos, m.pos - pos));
    slots_.emplace_back(m.NamePart(stored));
    pos = m.pos + m.len;
  }
  literals_.emplace_back(stored.substr(pos));
  const std::vector<std::string_view> views(literals_.begin(), literals_.end());
  compiled_ = CompileArithmetic(views, program_);
  values_.resize(slots_.size());
  leaves_.resize(slots_.size());
}

bool CompiledText::Compute(ScriptContext& ctx, double& value) {
  const std::size_t count = slots_.size();
  for (std::size_t i = 0; i < count; ++i) values_[i] = &slots_[i].Get(ctx.variables);
  if (!compiled_) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!ReadPlainNumber(*values_[i], leaves_[i])) return false;
  }
  value = RunArithmetic(program_, leaves_.data());
  return true;
}

bool CompiledText::Expand(ScriptContext& ctx, std::string& out) {
  switch (shape_) {
    case Shape::kFixed:
      out.assign(fixed_);
      return true;
    case Shape::kNumber:
      FormatFixed(number_, EvaluationDecimals(ctx), out);
      return true;
    case Shape::kTextual:
      return false;
    case Shape::kVariables:
      break;
  }
  double value = 0;
  if (Compute(ctx, value)) {
    // Every number is read before `out`, which may be one of them, changes.
    FormatFixed(value, EvaluationDecimals(ctx), out);
    return true;
  }
  return Concatenate(ctx, out);
}

bool CompiledText::ExpandsToZero(ScriptContext& ctx, bool& zero) {
  std::string text;
  double value = 0;
  if (shape_ == Shape::kVariables && Compute(ctx, value)) {
    const int decimals = EvaluationDecimals(ctx);
    // A whole number without decimals prints as itself: "0" only for zero.
    if (decimals == 0 && value > -1e15 && value < 1e15 &&
        value == static_cast<double>(static_cast<long long>(value))) {
      zero = value == 0;
      return true;
    }
    FormatFixed(value, decimals, text);
  } else if (shape_ == Shape::kVariables) {
    if (!Concatenate(ctx, text)) return false;
  } else if (!Expand(ctx, text)) {
    return false;
  }
  zero = CodePage::Trim(text) == "0";
  return true;
}

bool CompiledText::Concatenate(ScriptContext& ctx, std::string& out) {
  const std::size_t count = slots_.size();
  // One pass writes every value in, and the new text holds no reference.
  std::size_t size = 0;
  for (const std::string& literal : literals_) size += literal.size();
  for (std::size_t i = 0; i < count; ++i) {
    // Received text keeps its mark only through the textual expansion.
    if (!IsInertValue(*values_[i], gbk_) || ctx.variables.ReceivedOf(values_[i])) return false;
    size += values_[i]->size();
  }
  if (size > ExpandedTextLimit()) return false;  // the textual path reports it
  scratch_.clear();
  scratch_.reserve(size);
  for (std::size_t i = 0; i < count; ++i) {
    scratch_ += literals_[i];
    scratch_ += *values_[i];
  }
  scratch_ += literals_.back();
  EvaluateExpression(ctx, scratch_);
  out.assign(scratch_);
  if (scratch_.capacity() > (std::size_t{1} << 20)) std::string().swap(scratch_);
  return true;
}

CompiledStatement::CompiledStatement(const CodePage& cp, const ScriptCommand& command)
    : text_(cp, command.id == stmt::kVar ? std::string_view() : std::string_view(command.text)) {
  if (command.id != stmt::kVar) return;
  // As ExecuteVar cuts it; a name that needs expanding or evaluating, or a
  // malformed one, leaves the statement to ExecuteVar.
  FirstWordSplit parts = splitFirstWord(command.text, {}, cp);
  if (parts.head.size() <= 3) return;
  const std::string name = parts.head.substr(2, parts.head.size() - 3);
  if (name.find('[') != std::string::npos || IsExpressionText(name)) return;
  target_ = std::make_unique<VariableSlot>(name);
  value_ = std::make_unique<CompiledText>(cp, parts.tail);
}

bool CompiledStatement::RunVar(ScriptContext& ctx) {
  if (!target_) return false;
  std::string& slot = target_->Get(ctx.variables);
  // With no received value anywhere there is no mark to drop, and the
  // expansion is the statement's last call.
  if (!ctx.variables.AnyReceived()) return value_->Expand(ctx, slot);
  if (!value_->Expand(ctx, slot)) return false;
  // A number or the script's own text: whatever mark the variable had goes.
  ctx.variables.Forget(&slot);
  return true;
}

}  // namespace velmar
