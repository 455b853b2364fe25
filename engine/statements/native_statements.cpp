#include "engine/statements/native_statements.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"
#include "values/messages.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

constexpr std::string_view kArgumentSeparator = "<<<";

// Resolves the entry point of a head: from the cache, else through the
// library table (entering it in the cache). Reports and answers null when
// the head names no callable function.
void* ResolveEntryPoint(ScriptContext& ctx, const std::string& head, const std::string& callText) {
  if (void* cached = ctx.entryPoints.find(head)) return cached;
  const CodePage& cp = ctx.codePage();
  const std::size_t dot = cp.FindByte(head, '.');
  if (dot == std::string::npos) {
    ctx.RaiseError(callText, msg::kFormatError);
    return nullptr;
  }
  const std::string library = head.substr(0, dot);
  const std::string function = head.substr(dot + 1);
  const LoadedLibrary* loaded = ctx.libraries.find(library);
  if (!loaded) {
    ctx.RaiseError(callText, cp.ToUtf8(library) + msg::kLibraryMissingSuffix);
    return nullptr;
  }
  void* address = FindFunction(*loaded, function);
  if (!address) {
    ctx.RaiseError(callText, cp.ToUtf8(head) + msg::kFunctionMissingSuffix);
    return nullptr;
  }
  ctx.entryPoints.insert(head, library, address);
  return address;
}

// Where `loaddll` finds a bare file name: like the program folder coming
// first in the search for a library, a file of that name in the home folder
// wins over the system's library paths.
std::string LibraryPathFor(const ScriptContext& ctx, const std::string& path) {
  std::string normalized = NormalizePath(path, ctx.codePage());
  if (normalized.find('/') == std::string::npos && !ctx.env->home.empty()) {
    std::error_code ec;
    const std::filesystem::path local = ctx.env->home / normalized;
    if (std::filesystem::is_regular_file(local, ec)) return local.string();
  }
  return normalized;
}

// Tells the run's observer of a call that was made: the head split into the
// script's name of the library and the function, the argument parts as
// written after expansion.
void ReportNativeCall(RunObserver& observer, std::string_view head,
                      const std::vector<std::string>& parts, const std::string& value,
                      const CodePage& cp) {
  const std::size_t dot = cp.FindByte(head, '.');
  const std::string_view library = head.substr(0, dot);
  const std::string_view function =
      dot == std::string_view::npos ? std::string_view() : head.substr(dot + 1);
  std::vector<std::string_view> arguments(parts.begin() + 1, parts.end());
  observer.NativeCalled(library, function, arguments, value);
}

}  // namespace

std::string CallNative(ScriptContext& ctx, std::string_view namePart,
                       const ReceivedSpans& nameSpans) {
  const CodePage& cp = ctx.codePage();
  const std::string callText(namePart);
  const std::vector<std::string> parts =
      nameSpans.empty() ? SplitText(callText, kArgumentSeparator, cp)
                        : SplitMarkedText(callText, nameSpans, kArgumentSeparator, cp).pieces;
  if (parts.empty()) {
    ctx.RaiseError(callText, msg::kFormatError);
    return {};
  }
  if (parts.size() - 1 > kMaxNativeArguments) {
    ctx.RaiseError(callText, msg::kFormatError);
    return {};
  }

  // A part with an unclosed "(" stops the call: the function is never
  // handed an argument whose type the script did not manage to state.
  const TypedPart result = ReadTypePrefix(parts[0], cp);
  if (result.bracketMissing) {
    ctx.RaiseError(parts[0], msg::kBracketMismatch);
    return {};
  }
  std::vector<TypedPart> arguments;
  arguments.reserve(parts.size() - 1);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    arguments.push_back(ReadTypePrefix(parts[i], cp));
    if (arguments.back().bracketMissing) {
      ctx.RaiseError(parts[i], msg::kBracketMismatch);
      return {};
    }
  }

  void* function = ResolveEntryPoint(ctx, result.rest, callText);
  if (!function) return {};

  std::string value;
  if (!InvokeNative(function, result.type, arguments, cp, value)) {
    ctx.RaiseError(callText, msg::kFormatError);
    return {};
  }
  if (ctx.observer) ReportNativeCall(*ctx.observer, result.rest, parts, value, cp);
  return value;
}

StatementResult ExecuteLoadDll(ScriptContext& ctx, const std::string& rawText) {
  const FirstWordSplit split = splitFirstWord(rawText, "", ctx.codePage());
  if (!split.found) return ctx.Fail(rawText, msg::kFormatError);
  std::string name = split.head;
  std::string path = split.tail;
  ExpandAndEvaluate(ctx, name);
  ExpandAndEvaluate(ctx, path);
  // Addresses resolved in a library this name used to stand for are gone
  // with it.
  ctx.entryPoints.dropLibrary(name);
  ctx.libraries.load(name, LibraryPathFor(ctx, path));
  return StatementResult::Continue();
}

StatementResult ExecuteUnloadDll(ScriptContext& ctx, const std::string& expandedName) {
  if (!ctx.libraries.unload(expandedName)) {
    return ctx.Fail("UNLOADDLL " + expandedName, msg::kUnloadUnknown);
  }
  ctx.entryPoints.dropLibrary(expandedName);
  return StatementResult::Continue();
}

}  // namespace velmar
