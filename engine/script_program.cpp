#include "engine/script_program.h"

#include <memory>
#include <system_error>

#include "values/text_file_ops.h"

namespace velmar {

namespace {

std::string_view DropByteOrderMark(std::string_view text, const CodePage& cp) {
  if (cp.id() == CodePage::kUtf8 && text.substr(0, 3) == "\xEF\xBB\xBF") return text.substr(3);
  return text;
}

// One source on the chain of includes. The included text is read in place
// of the `using` line without copying the rest of the including text, so
// loading stays linear in the size of all sources.
struct SourceFrame {
  // Text of an include file (none for the main source); held by pointer so
  // that `text` stays valid when the chain grows.
  std::unique_ptr<std::string> owned;
  std::string_view text;
  std::size_t pos = 0;
  std::string path;  // canonical path, for cutting include cycles
};

// Only regular files are read as scripts: a folder reads as nothing, and a
// pipe or device could block the loader or feed it without end.
std::string ReadScriptFile(const std::string& path, const CodePage& cp) {
  const std::string normalized = NormalizePath(path, cp);
  if (normalized.find('\0') != std::string::npos) return {};  // would name another file
  std::error_code ec;
  if (!std::filesystem::is_regular_file(normalized, ec)) return {};
  return ReadTextFile(path, cp);
}

std::string CanonicalOrSelf(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

std::string IncludePath(const std::filesystem::path& home, std::string_view name,
                        const CodePage& cp) {
  // Dots separate folders; so does `\` as the scripts' own systems wrote it.
  // Neither byte is touched inside a character (a GBK trail byte may be `\`).
  std::string n(CodePage::Trim(name));
  for (std::size_t pos = 0; pos < n.size(); pos += cp.CharLength(n, pos)) {
    if (n[pos] == '.' || n[pos] == '\\') n[pos] = '/';
  }
  return (home / "Script").string() + "/" + n + ".vlm";
}

ScriptProgram parseScript(std::string_view source, const EngineEnvironment& env,
                          const std::string& sourcePath) {
  const CodePage& cp = *env.codePage;
  ScriptProgram program;
  std::vector<SourceFrame> frames;
  frames.push_back({{}, DropByteOrderMark(source, cp), 0, CanonicalOrSelf(sourcePath)});

  while (!frames.empty()) {
    SourceFrame& frame = frames.back();
    if (frame.pos >= frame.text.size()) {
      frames.pop_back();
      continue;
    }
    std::string_view line;
    const std::size_t q = frame.text.find("\r\n", frame.pos);
    // Only the main source can end without CR LF: include files are read
    // with ReadTextFile, which terminates every line.
    const bool lastLine = q == std::string_view::npos && frames.size() == 1;
    if (q == std::string_view::npos) {
      line = frame.text.substr(frame.pos);
      frame.pos = frame.text.size();
    } else {
      line = frame.text.substr(frame.pos, q - frame.pos);
      frame.pos = q + 2;
    }
    line = CodePage::TrimLeft(line);

    StatementSplit split = splitStatement(line, cp, env.flavor);
    switch (split.id) {
      case stmt::kLabel:
        program.labels[split.text] = static_cast<uint32_t>(program.commands.size());
        break;
      case stmt::kUsing: {
        if (lastLine || frames.size() > kMaxIncludeDepth) break;
        const std::string path = IncludePath(env.home, split.text, cp);
        const std::string canonical = CanonicalOrSelf(path);
        bool onChain = false;
        for (const SourceFrame& f : frames) onChain = onChain || f.path == canonical;
        if (onChain) break;
        SourceFrame include;
        include.owned = std::make_unique<std::string>(ReadScriptFile(path, cp));
        include.path = canonical;
        if (include.owned->empty()) break;
        include.text = DropByteOrderMark(*include.owned, cp);
        frames.push_back(std::move(include));
        break;
      }
      case stmt::kNone:
        if (!line.empty() && line.substr(0, 2) != "//" && !program.commands.empty()) {
          std::string& text = program.commands.back().text;
          text += '\n';
          text += line;
        }
        break;
      default:
        program.commands.push_back({split.id, std::move(split.text)});
        break;
    }
  }
  program.commands.push_back({stmt::kExit, {}});
  return program;
}

ScriptProgram LoadScriptFile(const std::string& path, const EngineEnvironment& env) {
  return parseScript(ReadScriptFile(path, *env.codePage), env, NormalizePath(path, *env.codePage));
}

}  // namespace velmar
