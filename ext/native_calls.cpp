#include "ext/native_calls.h"

#include <ffi.h>

#include <climits>
#include <cwchar>

#include "platform/dynamic_library.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

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

}  // namespace

LibraryTable::~LibraryTable() {
  for (auto& [name, library] : libraries_) platform::CloseLibrary(library.handle);
}

void LibraryTable::load(const std::string& name, const std::string& path) {
  LoadedLibrary library;
  library.handle = platform::OpenLibrary(path, platform::SymbolBinding::kNow, &library.loadError);
  auto it = libraries_.find(name);
  if (it != libraries_.end()) {
    platform::CloseLibrary(it->second.handle);
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
  platform::CloseLibrary(it->second.handle);
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

void* FindFunction(const LoadedLibrary& library, const std::string& function) {
  if (function.empty()) return nullptr;
  return platform::FindSymbol(library.handle, function.c_str());
}

bool InvokeNative(void* function, NativeType resultType, const std::vector<TypedPart>& arguments,
                  const CodePage& cp, std::string& result) {
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
        return false;
      case NativeType::kInt:
        ints[i] = ReadInt32(argument.rest);
        types[i] = &ffi_type_sint32;
        values[i] = &ints[i];
        break;
      case NativeType::kText:
        // The part itself is the private, zero-terminated copy; it lives
        // until the call returns.
        texts[i] = argument.rest.c_str();
        types[i] = &ffi_type_pointer;
        values[i] = &texts[i];
        break;
    }
  }

  ffi_cif cif;
  ffi_type* returnType = resultType == NativeType::kInt ? &ffi_type_sint32 : &ffi_type_pointer;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count), returnType,
                   count ? types.data() : nullptr) != FFI_OK) {
    return false;
  }
  ffi_arg returned = 0;
  ffi_call(&cif, FFI_FN(function), &returned, count ? values.data() : nullptr);

  switch (resultType) {
    case NativeType::kInt:
      result = std::to_string(static_cast<int32_t>(returned));
      return true;
    case NativeType::kWideText:
      result = WideResultToText(reinterpret_cast<const wchar_t*>(returned), cp);
      return true;
    case NativeType::kText:
      break;
  }
  const char* text = reinterpret_cast<const char*>(returned);
  result = text ? std::string(text) : std::string();
  return true;
}

}  // namespace velmar
