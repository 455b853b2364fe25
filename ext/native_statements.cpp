#include "ext/native_calls.h"

#include <dlfcn.h>
#include <ffi.h>

#include <climits>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "values/expansion.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

constexpr std::string_view kArgumentSeparator = "<<<";
constexpr char kFormatError[] = "格式有误．";
constexpr char kBracketError[] = "格式有误．括号不匹配！";

enum class NativeType { kText, kWideText, kInt };

struct TypedPart {
  NativeType type = NativeType::kText;
  std::string rest;
  bool bracketMissing = false;
};

// Reads the optional "(type)" in front of a call part. Names are compared
// case-insensitively with blanks around them ignored; an unknown name means
// text, as does a missing prefix.
TypedPart ReadTypePrefix(std::string_view part, const CodePage& cp) {
  TypedPart typed;
  const std::string_view trimmed = CodePage::TrimLeft(part);
  if (trimmed.empty() || trimmed.front() != '(') {
    typed.rest = std::string(part);
    return typed;
  }
  const std::size_t close = cp.FindByte(trimmed, ')');
  if (close == std::string_view::npos) {
    typed.rest = std::string(part);
    typed.bracketMissing = true;
    return typed;
  }
  const std::string name = cp.Lower(CodePage::Trim(trimmed.substr(1, close - 1)));
  if (name == "int") {
    typed.type = NativeType::kInt;
  } else if (name == "bstr") {
    typed.type = NativeType::kWideText;
  }
  typed.rest = std::string(trimmed.substr(close + 1));
  return typed;
}

// atoi as scripts know it, held inside the 32-bit range instead of
// overflowing.
int32_t ReadInt32(std::string_view text) {
  const long long value = LeadingInteger(text);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

std::string WideResultToText(const wchar_t* wide, const CodePage& cp) {
  if (!wide) return {};
  std::u16string units;
  for (const wchar_t* p = wide; *p; ++p) {
    const auto code = static_cast<uint32_t>(*p);
    if (code >= 0x10000 && code <= 0x10FFFF) {
      units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else if (code > 0x10FFFF) {
      units.push_back(u'?');
    } else {
      units.push_back(static_cast<char16_t>(code));
    }
  }
  return cp.FromUtf16(units);
}

// Resolves the entry point of a head: from the cache, else through the
// library table (entering it in the cache). Reports and answers null when
// the head names no callable function.
void* ResolveEntryPoint(ScriptContext& ctx, const std::string& head, const std::string& callText) {
  if (void* cached = ctx.entryPoints.find(head)) return cached;
  const CodePage& cp = ctx.codePage();
  const std::size_t dot = cp.FindByte(head, '.');
  if (dot == std::string::npos) {
    reportScriptError(ctx, callText, kFormatError);
    return nullptr;
  }
  const std::string library = head.substr(0, dot);
  const std::string function = head.substr(dot + 1);
  const LoadedLibrary* loaded = ctx.libraries.find(library);
  if (!loaded) {
    reportScriptError(ctx, callText, cp.ToUtf8(library) + " DLL文件不存在．");
    return nullptr;
  }
  // A null handle must never reach dlsym: there it means "search everything
  // loaded in the process".
  void* address = nullptr;
  if (loaded->handle && !function.empty()) {
    dlerror();
    address = dlsym(loaded->handle, function.c_str());
  }
  if (!address) {
    reportScriptError(ctx, callText, cp.ToUtf8(head) + " DLL中不存在该函数名．");
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

}  // namespace

LibraryTable::~LibraryTable() {
  for (auto& [name, library] : libraries_) {
    if (library.handle) dlclose(library.handle);
  }
}

void LibraryTable::load(const std::string& name, const std::string& path) {
  LoadedLibrary library;
  if (path.empty()) {
    // dlopen would answer the program itself for an empty name.
    library.loadError = "empty library path";
  } else {
    dlerror();
    library.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library.handle) {
      const char* error = dlerror();
      library.loadError = error ? error : "cannot load library";
    }
  }
  auto it = libraries_.find(name);
  if (it != libraries_.end()) {
    if (it->second.handle) dlclose(it->second.handle);
    it->second = std::move(library);
  } else {
    libraries_.emplace(name, std::move(library));
  }
}

const LoadedLibrary* LibraryTable::find(const std::string& name) const {
  auto it = libraries_.find(name);
  return it == libraries_.end() ? nullptr : &it->second;
}

bool LibraryTable::unload(const std::string& name) {
  auto it = libraries_.find(name);
  if (it == libraries_.end()) return false;
  if (it->second.handle) dlclose(it->second.handle);
  libraries_.erase(it);
  return true;
}

void* EntryPointCache::find(const std::string& head) const {
  auto it = entries_.find(head);
  return it == entries_.end() ? nullptr : it->second.address;
}

void EntryPointCache::insert(const std::string& head, const std::string& library, void* address) {
  entries_[head] = Entry{library, address};
}

void EntryPointCache::dropLibrary(const std::string& library) {
  std::erase_if(entries_, [&](const auto& entry) { return entry.second.library == library; });
}

std::string CallNative(ScriptContext& ctx, std::string_view namePart) {
  const CodePage& cp = ctx.codePage();
  const std::string callText(namePart);
  const std::vector<std::string> parts = SplitText(callText, kArgumentSeparator, cp);
  if (parts.empty()) {
    reportScriptError(ctx, callText, kFormatError);
    return {};
  }
  if (parts.size() - 1 > kMaxNativeArguments) {
    reportScriptError(ctx, callText, kFormatError);
    return {};
  }

  // A part with an unclosed "(" stops the call: the function is never
  // handed an argument whose type the script did not manage to state.
  const TypedPart result = ReadTypePrefix(parts[0], cp);
  if (result.bracketMissing) {
    reportScriptError(ctx, parts[0], kBracketError);
    return {};
  }
  std::vector<TypedPart> arguments;
  arguments.reserve(parts.size() - 1);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    arguments.push_back(ReadTypePrefix(parts[i], cp));
    if (arguments.back().bracketMissing) {
      reportScriptError(ctx, parts[i], kBracketError);
      return {};
    }
  }

  void* function = ResolveEntryPoint(ctx, result.rest, callText);
  if (!function) return {};

  // The first written argument is the callee's last parameter, so the words
  // go in reverse order. Storage is sized up front: libffi keeps pointers to
  // each value.
  const std::size_t count = arguments.size();
  std::vector<ffi_type*> types(count);
  std::vector<void*> values(count);
  std::vector<int32_t> ints(count);
  std::vector<const char*> texts(count);
  for (std::size_t i = 0; i < count; ++i) {
    const TypedPart& argument = arguments[count - 1 - i];
    switch (argument.type) {
      case NativeType::kWideText:
        reportScriptError(ctx, callText, kFormatError);
        return {};
      case NativeType::kInt:
        ints[i] = ReadInt32(argument.rest);
        types[i] = &ffi_type_sint32;
        values[i] = &ints[i];
        break;
      case NativeType::kText:
        // The part itself is the private, zero-terminated copy; it lives
        // until this function returns.
        texts[i] = argument.rest.c_str();
        types[i] = &ffi_type_pointer;
        values[i] = &texts[i];
        break;
    }
  }

  ffi_cif cif;
  ffi_type* returnType = result.type == NativeType::kInt ? &ffi_type_sint32 : &ffi_type_pointer;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count), returnType,
                   count ? types.data() : nullptr) != FFI_OK) {
    reportScriptError(ctx, callText, kFormatError);
    return {};
  }
  ffi_arg returned = 0;
  ffi_call(&cif, FFI_FN(function), &returned, count ? values.data() : nullptr);

  switch (result.type) {
    case NativeType::kInt:
      return std::to_string(static_cast<int32_t>(returned));
    case NativeType::kWideText:
      return WideResultToText(reinterpret_cast<const wchar_t*>(returned), cp);
    case NativeType::kText:
      break;
  }
  const char* text = reinterpret_cast<const char*>(returned);
  return text ? std::string(text) : std::string();
}

void ExecuteLoadDll(ScriptContext& ctx, const std::string& rawText) {
  const FirstWordSplit split = splitFirstWord(rawText, "", ctx.codePage());
  if (!split.found) {
    reportScriptError(ctx, rawText, kFormatError);
    return;
  }
  std::string name = split.head;
  std::string path = split.tail;
  ExpandAndEvaluate(ctx, name);
  ExpandAndEvaluate(ctx, path);
  // Addresses resolved in a library this name used to stand for are gone
  // with it.
  ctx.entryPoints.dropLibrary(name);
  ctx.libraries.load(name, LibraryPathFor(ctx, path));
}

void ExecuteUnloadDll(ScriptContext& ctx, const std::string& expandedName) {
  if (!ctx.libraries.unload(expandedName)) {
    reportScriptError(ctx, "UNLOADDLL " + expandedName, "释放了未定义的DLL．");
    return;
  }
  ctx.entryPoints.dropLibrary(expandedName);
}

}  // namespace velmar
