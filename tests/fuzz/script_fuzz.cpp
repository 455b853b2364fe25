// libFuzzer target: the loader. The input is a script of a home folder
// (statement splitting, the keyword table, labels, continuation lines); the
// part after the first NUL byte is an include file that `using inc`,
// `using sub.inc` and `using sub\inc` reach, and which may include itself.
// Byte 0 picks the code page and the keyword flavour.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine_environment.h"
#include "engine/keyword_table.h"
#include "engine/script_program.h"
#include "fuzz_support.h"
#include "values/code_page.h"

namespace {

const std::filesystem::path& Home() {
  static const std::filesystem::path home = [] {
    const std::filesystem::path h = fuzz::ScratchFolder() / "home";
    std::filesystem::create_directories(h / "Script" / "sub");
    return h;
  }();
  return home;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t way = data[0];
  const auto pieces = fuzz::Pieces(data + 1, size - 1, 2);

  velmar::EngineEnvironment env;
  env.home = Home();
  env.codePage =
      &velmar::CodePage::Get((way & 1) ? velmar::CodePage::kGbk : velmar::CodePage::kUtf8);
  env.flavor = (way & 2) ? velmar::KeywordFlavor::kRunner : velmar::KeywordFlavor::kManager;

  const std::string_view include = pieces.size() > 1 ? pieces[1] : std::string_view();
  static std::optional<std::string> written;  // what the include files hold
  if (include != written) {
    fuzz::WriteFile(Home() / "Script" / "inc.vlm", include);
    fuzz::WriteFile(Home() / "Script" / "sub" / "inc.vlm", include);
    written = include;
  }

  const std::string mainPath = (Home() / "Script" / "main.vlm").string();
  const velmar::ScriptProgram program = velmar::parseScript(pieces[0], env, mainPath);

  fuzz::Check(!program.commands.empty());
  fuzz::Check(program.commands.back().id == velmar::stmt::kExit);
  for (const auto& [label, index] : program.labels) {
    fuzz::Check(index <= program.lastIndex());
    fuzz::Check(program.FindLabel(label) != nullptr);
  }
  for (const velmar::ScriptCommand& command : program.commands) {
    fuzz::Check(command.id != velmar::stmt::kNone && command.id != velmar::stmt::kLabel &&
                command.id != velmar::stmt::kUsing);
  }
  return 0;
}
