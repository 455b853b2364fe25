#include "tooling/language_server.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "engine/script_program.h"
#include "platform/wake_event.h"
#include "tooling/script_checker.h"
#include "engine/statements/builtins.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// JSON-RPC error codes.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kServerNotInitialized = -32002;

// Protocol kinds.
constexpr int kSymbolFunction = 12;
constexpr int kSymbolEvent = 24;
constexpr int kSymbolConstant = 14;
constexpr int kItemFunction = 3;
constexpr int kItemVariable = 6;
constexpr int kItemKeyword = 14;
constexpr int kItemReference = 18;
constexpr int kItemConstant = 21;
constexpr int kItemEvent = 23;

std::string Dump(const json& value) {
  // Script text that is no valid UTF-8 (a stray byte) must not end the server.
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "file:///a/b%20c.vlm" is "/a/b c.vlm"; empty for any other scheme.
std::string PathOfUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.substr(0, kScheme.size()) != kScheme) return {};
  uri.remove_prefix(kScheme.size());
  const std::size_t slash = uri.find('/');  // skips an authority ("localhost")
  if (slash == std::string_view::npos) return {};
  uri.remove_prefix(slash);
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() + 0 && HexValue(uri[i + 1]) >= 0 &&
        HexValue(uri[i + 2]) >= 0) {
      path += static_cast<char>(HexValue(uri[i + 1]) * 16 + HexValue(uri[i + 2]));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  if (path.find('\0') != std::string::npos) return {};
  return path;
}

std::string UriOfPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// One spelling per file, so that an include found as "home/Script/a.vlm"
// and the editor's "/abs/home/Script/a.vlm" are the same document.
std::string SamePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.string();
}

// Lines of an editor's text (LF or CR LF) in the code page, each ending in
// CR LF as the loader reads files.
std::string LoaderText(std::string_view utf8, const CodePage& cp) {
  std::string text = cp.id() == CodePage::kUtf8 ? std::string(utf8) : cp.FromUtf8(utf8);
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    std::size_t next = eol == std::string::npos ? text.size() : eol + 1;
    std::string_view line(text.data() + pos, (eol == std::string::npos ? text.size() : eol) - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.append(line);
    out += "\r\n";
    pos = next;
  }
  return out;
}

// Byte offset in a line (code page) <-> UTF-16 units.
uint32_t Utf16Column(const CodePage& cp, std::string_view line, std::size_t offset) {
  offset = std::min(offset, line.size());
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < offset;) {
    const std::size_t n = std::max<std::size_t>(1, cp.CharLength(line, pos));
    units += cp.ToUtf16(line.substr(pos, n)).size();
    pos += n;
  }
  return static_cast<uint32_t>(units);
}

std::size_t ByteOffset(const CodePage& cp, std::string_view line, uint32_t units) {
  std::size_t pos = 0;
  std::size_t counted = 0;
  while (pos < line.size() && counted < units) {
    const std::size_t n = std::max<std::size_t>(1, cp.CharLength(line, pos));
    counted += cp.ToUtf16(line.substr(pos, n)).size();
    pos += n;
  }
  return pos;
}

// Byte offset of character `column` (from 1) of a line.
std::size_t OffsetOfCharacter(const CodePage& cp, std::string_view line, uint32_t column) {
  std::size_t pos = 0;
  for (uint32_t c = 1; c < column && pos < line.size(); ++c) {
    pos += std::max<std::size_t>(1, cp.CharLength(line, pos));
  }
  return pos;
}

std::string FirstSentence(std::string_view text) {
  const std::size_t stop = text.find(". ");
  std::string out(text.substr(0, stop == std::string_view::npos ? text.size() : stop + 1));
  for (char& c : out) {
    if (c == '\n') c = ' ';
  }
  return out;
}

// The first paragraph after a section's heading, and the first code span
// in it: "`[@split<<<TEXT<<<SEPARATOR]` cuts TEXT ..." gives the shape.
struct ManualSummary {
  std::string paragraph;
  std::string shape;
};

ManualSummary SummaryOf(std::string_view section) {
  ManualSummary out;
  const std::size_t heading = section.find('\n');
  if (heading == std::string_view::npos) return out;
  std::string_view rest = section.substr(heading + 1);
  while (!rest.empty() && (rest.front() == '\n' || rest.front() == '\r')) rest.remove_prefix(1);
  std::size_t end = rest.find("\n\n");
  out.paragraph = std::string(rest.substr(0, end));
  if (!out.paragraph.empty() && out.paragraph.front() == '`') {
    const std::size_t close = out.paragraph.find('`', 1);
    if (close != std::string::npos) out.shape = out.paragraph.substr(1, close - 1);
  }
  return out;
}

}  // namespace

struct LanguageServer::Impl {
  struct Document {
    std::string uri;
    std::string path;  // SamePath of the file
    std::string text;  // loader text: code page, CR LF lines
    int64_t version = 0;
    const EngineEnvironment* env = nullptr;
    ScriptOutline outline;
    std::vector<std::string> includes;  // SamePath of each include, from the last check
    // The definition of each label that counts (the last one read, includes
    // read where their `using` line stands): file and line from 0.
    std::map<std::string, std::pair<std::string, uint32_t>, std::less<>> labelLines;
    bool due = false;
    Clock::time_point dueAt;
    bool open = true;
  };

  LanguageServerOptions options;
  Sender send;
  bool initialized = false;
  bool shutdown = false;
  bool exited = false;
  std::map<std::string, Document> documents;  // by uri
  std::map<std::string, std::unique_ptr<EngineEnvironment>> environments;  // by home
  // Outlines of files that are not open (includes), with their modification time.
  struct FileOutline {
    fs::file_time_type stamp;
    std::string text;
    ScriptOutline outline;
  };
  std::map<std::string, FileOutline> files;
  std::map<std::string, std::string> summaries;  // anchor -> first sentence
  std::map<std::string, std::string> shapes;     // built-in -> argument shape

  // --- Output.
  void Reply(const json& id, json result) {
    send(Dump(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}));
  }
  void Fail(const json& id, int code, const std::string& message) {
    send(Dump(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}}));
  }
  void Notify(const std::string& method, json params) {
    send(Dump(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}));
  }

  // --- Environments: one per home folder.
  const EngineEnvironment& EnvironmentFor(const std::string& path) {
    std::string home = options.home;
    if (home.empty()) {
      const fs::path file(path);
      for (fs::path dir = file.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        if (dir.filename() == "Script") {
          home = dir.parent_path().string();
          break;
        }
        if (dir == dir.root_path()) break;
      }
      if (home.empty()) home = file.parent_path().string();
    }
    auto it = environments.find(home);
    if (it == environments.end()) {
      auto env = std::make_unique<EngineEnvironment>(EngineEnvironment::ForHome(home, KeywordFlavor::kRunner));
      if (options.codePage) env->codePage = &CodePage::Get(*options.codePage);
      it = environments.emplace(home, std::move(env)).first;
    }
    return *it->second;
  }

  // --- Manual.
  std::string Manual(const std::string& anchor) {
    return options.manual ? options.manual(anchor) : std::string();
  }
  const std::string& Summary(const std::string& anchor) {
    auto it = summaries.find(anchor);
    if (it == summaries.end()) {
      const ManualSummary s = SummaryOf(Manual(anchor));
      it = summaries.emplace(anchor, FirstSentence(s.paragraph)).first;
      if (anchor.rfind("fn-", 0) == 0) shapes[anchor.substr(3)] = s.shape;
    }
    return it->second;
  }

  // --- Documents.
  Document* Find(const std::string& uri) {
    auto it = documents.find(uri);
    return it == documents.end() ? nullptr : &it->second;
  }

  // The document of a request: an open one, else the file on disk read as
  // a closed document; nullptr when neither exists.
  Document* Resolve(const json& params, const json& id) {
    std::string uri;
    if (params.is_object() && params.contains("textDocument") && params["textDocument"].is_object() &&
        params["textDocument"].contains("uri") && params["textDocument"]["uri"].is_string()) {
      uri = params["textDocument"]["uri"].get<std::string>();
    }
    if (uri.empty()) {
      Fail(id, kInvalidParams, "the request names no textDocument.uri");
      return nullptr;
    }
    if (Document* d = Find(uri)) return d;
    const std::string path = PathOfUri(uri);
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) {
      Fail(id, kInvalidParams, "no such script: " + uri);
      return nullptr;
    }
    Document& d = documents[uri];
    d.uri = uri;
    d.path = SamePath(path);
    d.env = &EnvironmentFor(d.path);
    d.text = ReadTextFile(d.path, *d.env->codePage);
    d.outline = OutlineScript(d.text, *d.env->codePage, d.env->flavor);
    d.open = false;
    Analyse(d, false);
    return &d;
  }

  void Open(const json& params, Clock::time_point now) {
    const json& td = params.at("textDocument");
    const std::string uri = td.at("uri").get<std::string>();
    std::string path = PathOfUri(uri);
    Document& d = documents[uri];
    d.uri = uri;
    d.path = path.empty() ? uri : SamePath(path);
    d.env = &EnvironmentFor(d.path);
    d.open = true;
    d.version = td.value("version", int64_t{0});
    SetText(d, td.at("text").get<std::string>(), now);
    // A file just opened is checked at once: there is no typing to wait for.
    Analyse(d, true);
  }

  void SetText(Document& d, const std::string& utf8, Clock::time_point now) {
    d.text = LoaderText(utf8, *d.env->codePage);
    // The outline is cheap and completion needs it at once; the check waits.
    d.outline = OutlineScript(d.text, *d.env->codePage, d.env->flavor);
    d.due = true;
    d.dueAt = now + options.debounce;
    // The scripts that include this one are checked again too.
    for (auto& [uri, other] : documents) {
      if (&other == &d || !other.open) continue;
      if (std::find(other.includes.begin(), other.includes.end(), d.path) != other.includes.end()) {
        other.due = true;
        other.dueAt = d.dueAt;
      }
    }
  }

  // Checks a document and, when `publish`, sends its diagnostics.
  void Analyse(Document& d, bool publish) {
    d.due = false;
    const EngineEnvironment& env = *d.env;
    const CodePage& cp = *env.codePage;
    const ScriptProgram program = parseScript(d.text, env, d.path);
    SourceTexts texts;
    texts.emplace(program.files.empty() ? d.path : program.files[0], d.text);
    d.includes.clear();
    for (std::size_t i = 1; i < program.files.size(); ++i) {
      const std::string same = SamePath(program.files[i]);
      d.includes.push_back(same);
      for (const auto& [uri, other] : documents) {
        if (other.path == same) texts.emplace(program.files[i], other.text);
      }
    }
    d.labelLines.clear();
    for (const LabelDefinition& def : program.labelDefinitions) {
      const std::string file = def.at.file == 0 ? d.path : d.includes[def.at.file - 1];
      d.labelLines[def.label] = {file, def.at.line == 0 ? 0 : def.at.line - 1};
    }
    const std::vector<CheckFinding> findings = CheckProgram(program, env, &texts);
    if (!publish) return;
    json diagnostics = json::array();
    const std::string& own = program.files.empty() ? d.path : program.files[0];
    for (const CheckFinding& f : findings) {
      if (f.file != own) continue;
      const uint32_t line = f.line == 0 ? 0 : f.line - 1;
      const std::string_view text = line < d.outline.lines.size() ? std::string_view(d.outline.lines[line]) : "";
      const std::size_t at = OffsetOfCharacter(cp, text, f.column);
      const uint32_t column = Utf16Column(cp, text, at);
      const uint32_t endColumn = Utf16Column(cp, text, text.size());
      diagnostics.push_back({{"range",
                              {{"start", {{"line", line}, {"character", column}}},
                               {"end", {{"line", line}, {"character", std::max(column, endColumn)}}}}},
                             {"severity", f.error ? 1 : 2},
                             {"source", "velmar check"},
                             {"message", cp.id() == CodePage::kUtf8 ? f.message : cp.ToUtf8(f.message)}});
    }
    json params = {{"uri", d.uri}, {"diagnostics", std::move(diagnostics)}};
    if (d.open) params["version"] = d.version;
    Notify("textDocument/publishDiagnostics", std::move(params));
  }

  // The outline of a file of a document's program: the open document's,
  // else the file on disk (read again when it changed).
  const ScriptOutline* OutlineOf(const std::string& path, const EngineEnvironment& env) {
    for (const auto& [uri, d] : documents) {
      if (d.path == path) return &d.outline;
    }
    std::error_code ec;
    const fs::file_time_type stamp = fs::last_write_time(path, ec);
    if (ec) return nullptr;
    auto it = files.find(path);
    if (it == files.end() || it->second.stamp != stamp) {
      FileOutline f;
      f.stamp = stamp;
      f.text = ReadTextFile(path, *env.codePage);
      f.outline = OutlineScript(f.text, *env.codePage, env.flavor);
      it = files.insert_or_assign(path, std::move(f)).first;
    }
    return &it->second.outline;
  }

  struct Source {
    std::string path;
    const ScriptOutline* outline;
  };
  // The document first, then its includes.
  std::vector<Source> Sources(Document& d) {
    std::vector<Source> out{{d.path, &d.outline}};
    for (const std::string& include : d.includes) {
      if (include == d.path) continue;
      if (const ScriptOutline* o = OutlineOf(include, *d.env)) out.push_back({include, o});
    }
    return out;
  }

  // --- Positions.
  bool PositionOf(const json& params, const Document& d, uint32_t& line, std::size_t& offset) {
    if (!params.contains("position") || !params["position"].is_object()) return false;
    const json& p = params["position"];
    if (!p.contains("line") || !p["line"].is_number_unsigned() || !p.contains("character") ||
        !p["character"].is_number_unsigned()) {
      return false;
    }
    line = p["line"].get<uint32_t>();
    const std::string_view text = line < d.outline.lines.size() ? std::string_view(d.outline.lines[line]) : "";
    offset = ByteOffset(*d.env->codePage, text, p["character"].get<uint32_t>());
    return true;
  }

  json Range(const std::string& path, uint32_t line, uint32_t begin, uint32_t end, const CodePage& cp) {
    std::string_view text;
    for (const auto& [uri, d] : documents) {
      if (d.path == path && line < d.outline.lines.size()) text = d.outline.lines[line];
    }
    if (text.empty()) {
      auto it = files.find(path);
      if (it != files.end() && line < it->second.outline.lines.size()) text = it->second.outline.lines[line];
    }
    return {{"start", {{"line", line}, {"character", Utf16Column(cp, text, begin)}}},
            {"end", {{"line", line}, {"character", Utf16Column(cp, text, end)}}}};
  }
  json Location(const std::string& path, const OutlineEntry& e, const CodePage& cp) {
    return {{"uri", UriFor(path)}, {"range", Range(path, e.line, e.begin, e.end, cp)}};
  }
  std::string UriFor(const std::string& path) {
    for (const auto& [uri, d] : documents) {
      if (d.path == path) return uri;
    }
    return UriOfPath(path);
  }

  static bool SameSymbol(const OutlineEntry& a, const OutlineEntry& b) {
    const auto space = [](OutlineKind k) { return k == OutlineKind::kEventSection ? OutlineKind::kLabel : k; };
    return space(a.kind) == space(b.kind) && a.name == b.name;
  }

  // The word a position is in: what stands before it back to a bracket
  // opener (`[@sp|`), and the keyword of the line.
  struct Context {
    char opener = 0;         // '@', '#', '$' when inside `[@`, `[#`, `[$`
    std::size_t nameAt = 0;  // where the typed name starts
    bool firstWord = false;  // the position is in the line's first word
    int32_t statement = 0;   // the line's statement id
    std::string word;        // the name around the position (after an opener, or the first word)
  };
  Context ContextAt(const Document& d, uint32_t line, std::size_t offset) {
    Context c;
    const CodePage& cp = *d.env->codePage;
    const std::string_view text = line < d.outline.lines.size() ? std::string_view(d.outline.lines[line]) : "";
    offset = std::min(offset, text.size());
    std::size_t start = 0;
    while (start < text.size() && CodePage::IsSpace(text[start])) ++start;
    const StatementSplit split = splitStatement(text.substr(start), cp, d.env->flavor);
    c.statement = split.id;
    std::size_t firstEnd = start;
    while (firstEnd < text.size() && text[firstEnd] != ' ' && text[firstEnd] != '\t') ++firstEnd;
    // Back from the position over name bytes to an opener.
    std::size_t back = offset;
    while (back > 0) {
      const char ch = text[back - 1];
      if (ch == ']' || ch == '[' || CodePage::IsSpace(ch) || ch == '<' || ch == '>' || ch == '.') break;
      if ((ch == '@' || ch == '#' || ch == '$') && back >= 2 && text[back - 2] == '[') break;
      --back;
    }
    std::size_t forward = offset;
    while (forward < text.size() && text[forward] != ']' && text[forward] != '[' && text[forward] != '.' &&
           text[forward] != '<' && text[forward] != '>' && !CodePage::IsSpace(text[forward])) {
      ++forward;
    }
    if (back >= 2 && text[back - 2] == '[' && (text[back - 1] == '@' || text[back - 1] == '#' || text[back - 1] == '$')) {
      c.opener = text[back - 1];
      c.nameAt = back;
      std::size_t end = forward;
      if (c.opener == '@') {
        const std::size_t cut = text.find("<<<", back);
        if (cut != std::string_view::npos && cut < end) end = cut;
      }
      c.word = cp.Lower(text.substr(back, end - back));
    } else if (offset <= firstEnd && offset >= start) {
      c.firstWord = true;
      c.nameAt = start;
      c.word = cp.Lower(text.substr(start, firstEnd - start));
    }
    return c;
  }

  // --- Requests.
  void Completion(const json& id, const json& params) {
    Document* d = Resolve(params, id);
    if (!d) return;
    uint32_t line = 0;
    std::size_t offset = 0;
    if (!PositionOf(params, *d, line, offset)) return Fail(id, kInvalidParams, "the request has no valid position");
    const Context c = ContextAt(*d, line, offset);
    const CodePage& cp = *d->env->codePage;
    const std::string_view text = line < d->outline.lines.size() ? std::string_view(d->outline.lines[line]) : "";
    const json editRange = {{"start", {{"line", line}, {"character", Utf16Column(cp, text, c.nameAt)}}},
                            {"end", {{"line", line}, {"character", Utf16Column(cp, text, offset)}}}};
    json items = json::array();
    std::set<std::string> seen;
    auto add = [&](const std::string& label, int kind, const std::string& detail, const std::string& insert,
                   const std::string& doc) {
      if (!seen.insert(std::to_string(kind) + label).second) return;
      json item = {{"label", label}, {"kind", kind}};
      if (!detail.empty()) item["detail"] = detail;
      if (!doc.empty()) item["documentation"] = {{"kind", "markdown"}, {"value", doc}};
      item["textEdit"] = {{"range", editRange}, {"newText", insert}};
      items.push_back(std::move(item));
    };
    auto toUtf8 = [&](const std::string& s) { return cp.id() == CodePage::kUtf8 ? s : cp.ToUtf8(s); };
    const std::vector<Source> sources = Sources(*d);
    auto names = [&](OutlineKind kind, OutlineKind other, int itemKind, const char* what) {
      for (const Source& s : sources) {
        for (const OutlineEntry& e : s.outline->entries) {
          if ((e.kind != kind && e.kind != other) || (kind != OutlineKind::kVariable && !e.definition)) continue;
          const std::string name = toUtf8(e.name);
          const std::string where = std::string(what) + ", " + fs::path(s.path).filename().string() + ":" +
                                    std::to_string(e.line + 1);
          add(name, e.kind == OutlineKind::kEventSection ? kItemEvent : itemKind, where, name, "");
        }
      }
    };
    if (c.opener == '@') {
      for (std::string_view name : BuiltinNames()) {
        const std::string n(name);
        const std::string& summary = Summary("fn-" + n);
        const std::string shape = shapes.count(n) ? shapes[n] : std::string();
        add(n, kItemFunction, shape.empty() ? "[@" + n + "]" : shape, n, summary);
      }
    } else if (c.opener == '#') {
      names(OutlineKind::kVariable, OutlineKind::kVariable, kItemVariable, "variable");
    } else if (c.opener == '$') {
      names(OutlineKind::kNamedExpression, OutlineKind::kNamedExpression, kItemConstant, "named expression");
    } else if (c.firstWord) {
      for (int32_t i = 1; i <= stmt::kMaxId; ++i) {
        const std::string_view keyword = KeywordOf(i);
        if (keyword.empty() || LookupKeyword(keyword, d->env->flavor) != i) continue;
        const std::string k(keyword);
        add(k, kItemKeyword, Summary("stmt-" + k), k, "");
      }
      names(OutlineKind::kLabel, OutlineKind::kEventSection, kItemReference, "label");
    } else if (c.statement == stmt::kGoto || c.statement == stmt::kCall) {
      names(OutlineKind::kLabel, OutlineKind::kLabel, kItemReference, "label");
    } else if (c.statement == stmt::kMatch || c.statement == stmt::kUnregex || c.statement == stmt::kTest) {
      names(OutlineKind::kNamedExpression, OutlineKind::kNamedExpression, kItemConstant, "named expression");
    }
    Reply(id, {{"isIncomplete", false}, {"items", std::move(items)}});
  }

  // The definition entries of a symbol in the document and its includes.
  std::vector<std::pair<std::string, const OutlineEntry*>> Definitions(Document& d, const OutlineEntry& e) {
    std::vector<std::pair<std::string, const OutlineEntry*>> out;
    for (const Source& s : Sources(d)) {
      for (const OutlineEntry& other : s.outline->entries) {
        if (other.definition && SameSymbol(other, e)) out.emplace_back(s.path, &other);
      }
    }
    return out;
  }

  std::string IncludeTarget(const Document& d, const std::string& name) {
    const CodePage& cp = *d.env->codePage;
    std::string path = IncludePath(d.env->home, name, cp);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) path = IncludePathBeside(d.path, name, cp);
    if (!fs::is_regular_file(path, ec)) return {};
    return SamePath(path);
  }

  void Hover(const json& id, const json& params) {
    Document* d = Resolve(params, id);
    if (!d) return;
    uint32_t line = 0;
    std::size_t offset = 0;
    if (!PositionOf(params, *d, line, offset)) return Fail(id, kInvalidParams, "the request has no valid position");
    const CodePage& cp = *d->env->codePage;
    auto toUtf8 = [&](const std::string& s) { return cp.id() == CodePage::kUtf8 ? s : cp.ToUtf8(s); };
    const Context c = ContextAt(*d, line, offset);
    std::string text;
    if (c.opener == '@' && !c.word.empty()) {
      text = Manual("fn-" + c.word);
    } else if (c.firstWord && c.statement != stmt::kLabel && c.statement != 0) {
      const std::string keyword(KeywordOf(c.statement));
      text = Manual("stmt-" + keyword);
      if (text.empty() && (keyword == "{" || keyword == "}")) text = Manual("topic-blocks");
    }
    if (text.empty()) {
      const OutlineEntry* e = EntryAt(d->outline, line, static_cast<uint32_t>(offset));
      if (!e) return Reply(id, nullptr);
      if (e->kind == OutlineKind::kInclude) {
        const std::string target = IncludeTarget(*d, e->name);
        text = target.empty() ? "`using " + toUtf8(e->name) + "`: no such file" : "`using " + toUtf8(e->name) + "`: " + target;
      } else {
        const char* what = e->kind == OutlineKind::kVariable        ? "variable"
                           : e->kind == OutlineKind::kNamedExpression ? "named expression"
                           : e->kind == OutlineKind::kEventSection    ? "event section"
                                                                      : "label";
        const std::string shown = e->kind == OutlineKind::kVariable ? "[#" + e->name + "]" : e->name;
        text = std::string(what) + " `" + toUtf8(shown) + "`";
        const auto defs = Definitions(*d, *e);
        if (defs.empty()) {
          text += e->kind == OutlineKind::kVariable ? ": not written by `var` in this script or its includes"
                                                    : ": not defined in this script or its includes";
        } else {
          text += e->kind == OutlineKind::kVariable ? ", written at " : ", defined at ";
          for (std::size_t i = 0; i < defs.size() && i < 5; ++i) {
            if (i > 0) text += ", ";
            text += fs::path(defs[i].first).filename().string() + ":" + std::to_string(defs[i].second->line + 1);
          }
          if (defs.size() > 5) text += ", …";
        }
      }
    }
    if (text.empty()) return Reply(id, nullptr);
    Reply(id, {{"contents", {{"kind", "markdown"}, {"value", text}}}});
  }

  void Definition(const json& id, const json& params) {
    Document* d = Resolve(params, id);
    if (!d) return;
    uint32_t line = 0;
    std::size_t offset = 0;
    if (!PositionOf(params, *d, line, offset)) return Fail(id, kInvalidParams, "the request has no valid position");
    const OutlineEntry* e = EntryAt(d->outline, line, static_cast<uint32_t>(offset));
    if (!e) return Reply(id, nullptr);
    const CodePage& cp = *d->env->codePage;
    if (e->kind == OutlineKind::kInclude) {
      const std::string target = IncludeTarget(*d, e->name);
      if (target.empty()) return Reply(id, nullptr);
      return Reply(id, json::array({{{"uri", UriFor(target)},
                                     {"range", {{"start", {{"line", 0}, {"character", 0}}},
                                                {"end", {{"line", 0}, {"character", 0}}}}}}}));
    }
    auto defs = Definitions(*d, *e);
    // A label defined twice jumps where the later line (the one that counts) is.
    if ((e->kind == OutlineKind::kLabel || e->kind == OutlineKind::kEventSection) && defs.size() > 1) {
      auto counts = defs.end() - 1;
      const auto winner = d->labelLines.find(e->name);
      if (winner != d->labelLines.end()) {
        for (auto it = defs.begin(); it != defs.end(); ++it) {
          if (it->first == winner->second.first && it->second->line == winner->second.second) counts = it;
        }
      }
      defs = {*counts};
    }
    json out = json::array();
    for (const auto& [path, def] : defs) out.push_back(Location(path, *def, cp));
    Reply(id, std::move(out));
  }

  void References(const json& id, const json& params) {
    Document* d = Resolve(params, id);
    if (!d) return;
    uint32_t line = 0;
    std::size_t offset = 0;
    if (!PositionOf(params, *d, line, offset)) return Fail(id, kInvalidParams, "the request has no valid position");
    const OutlineEntry* e = EntryAt(d->outline, line, static_cast<uint32_t>(offset));
    if (!e || e->kind == OutlineKind::kInclude) return Reply(id, nullptr);
    bool declarations = true;
    if (params.contains("context") && params["context"].is_object()) {
      declarations = params["context"].value("includeDeclaration", true);
    }
    const OutlineEntry wanted = *e;
    json out = json::array();
    for (const Source& s : Sources(*d)) {
      for (const OutlineEntry& other : s.outline->entries) {
        if (!SameSymbol(other, wanted) || (other.definition && !declarations)) continue;
        out.push_back(Location(s.path, other, *d->env->codePage));
      }
    }
    Reply(id, std::move(out));
  }

  void Symbols(const json& id, const json& params) {
    Document* d = Resolve(params, id);
    if (!d) return;
    const CodePage& cp = *d->env->codePage;
    std::vector<const OutlineEntry*> defs;
    for (const OutlineEntry& e : d->outline.entries) {
      if (e.definition && (e.kind == OutlineKind::kLabel || e.kind == OutlineKind::kEventSection ||
                           e.kind == OutlineKind::kNamedExpression)) {
        defs.push_back(&e);
      }
    }
    const uint32_t lines = static_cast<uint32_t>(d->outline.lines.size());
    json out = json::array();
    for (std::size_t i = 0; i < defs.size(); ++i) {
      const OutlineEntry& e = *defs[i];
      // A section runs to the line before the next label.
      uint32_t last = e.line;
      if (e.kind != OutlineKind::kNamedExpression) {
        last = lines == 0 ? 0 : lines - 1;
        for (std::size_t j = i + 1; j < defs.size(); ++j) {
          if (defs[j]->kind != OutlineKind::kNamedExpression) {
            last = defs[j]->line == 0 ? 0 : defs[j]->line - 1;
            break;
          }
        }
        last = std::max(last, e.line);
      }
      const std::string_view lastText = last < lines ? std::string_view(d->outline.lines[last]) : "";
      const int kind = e.kind == OutlineKind::kEventSection ? kSymbolEvent
                       : e.kind == OutlineKind::kLabel       ? kSymbolFunction
                                                             : kSymbolConstant;
      out.push_back({{"name", cp.id() == CodePage::kUtf8 ? e.name : cp.ToUtf8(e.name)},
                     {"kind", kind},
                     {"range", {{"start", {{"line", e.line}, {"character", 0}}},
                                {"end", {{"line", last}, {"character", Utf16Column(cp, lastText, lastText.size())}}}}},
                     {"selectionRange", Range(d->path, e.line, e.begin, e.end, cp)}});
    }
    Reply(id, std::move(out));
  }

  void Initialize(const json& id) {
    initialized = true;
    Reply(id, {{"capabilities",
                {{"positionEncoding", "utf-16"},
                 {"textDocumentSync", {{"openClose", true}, {"change", 1}, {"save", {{"includeText", false}}}}},
                 {"completionProvider", {{"triggerCharacters", {"@", "#", "$", "<"}}}},
                 {"hoverProvider", true},
                 {"definitionProvider", true},
                 {"referencesProvider", true},
                 {"documentSymbolProvider", true}}},
               {"serverInfo", {{"name", "velmar"}}}});
  }

  void Handle(const json& message, Clock::time_point now) {
    if (!message.is_object()) return Fail(nullptr, kInvalidRequest, "a message must be a JSON object");
    const bool hasId = message.contains("id");
    const json id = hasId ? message["id"] : json(nullptr);
    if (hasId && !id.is_string() && !id.is_number_integer() && !id.is_null()) {
      return Fail(nullptr, kInvalidRequest, "a request id must be a number or a string");
    }
    if (!message.contains("method")) {
      if (hasId && (message.contains("result") || message.contains("error"))) return;  // an answer to us
      return Fail(id, kInvalidRequest, "the message has no method");
    }
    if (!message["method"].is_string()) return Fail(id, kInvalidRequest, "the method must be a string");
    const std::string method = message["method"].get<std::string>();
    const json params = message.contains("params") ? message["params"] : json::object();
    if (method == "exit") {
      exited = true;
      return;
    }
    if (!hasId) return Notification(method, params, now);
    if (method == "initialize") return Initialize(id);
    if (!initialized) return Fail(id, kServerNotInitialized, "initialize comes first");
    if (shutdown) return Fail(id, kInvalidRequest, "the server is shutting down");
    if (method == "shutdown") {
      shutdown = true;
      return Reply(id, nullptr);
    }
    if (!params.is_object()) return Fail(id, kInvalidParams, "params must be an object");
    if (method == "textDocument/completion") return Completion(id, params);
    if (method == "textDocument/hover") return Hover(id, params);
    if (method == "textDocument/definition") return Definition(id, params);
    if (method == "textDocument/references") return References(id, params);
    if (method == "textDocument/documentSymbol") return Symbols(id, params);
    Fail(id, kMethodNotFound, "no such method: " + method);
  }

  void Notification(const std::string& method, const json& params, Clock::time_point now) {
    if (!initialized || !params.is_object()) return;  // notifications get no answer
    try {
      if (method == "textDocument/didOpen") {
        Open(params, now);
      } else if (method == "textDocument/didChange") {
        Document* d = Find(params.at("textDocument").at("uri").get<std::string>());
        if (!d) return;
        const json& changes = params.at("contentChanges");
        if (!changes.is_array() || changes.empty()) return;
        // Full sync: the last change holds the whole text.
        const json& last = changes.back();
        if (last.contains("range")) return;
        d->version = params["textDocument"].value("version", d->version);
        d->open = true;
        SetText(*d, last.at("text").get<std::string>(), now);
      } else if (method == "textDocument/didSave") {
        const std::string uri = params.at("textDocument").at("uri").get<std::string>();
        Document* saved = Find(uri);
        for (auto& [u, d] : documents) {
          const bool includes = saved && std::find(d.includes.begin(), d.includes.end(), saved->path) != d.includes.end();
          if (d.open && (u == uri || includes)) {
            d.due = true;
            d.dueAt = now;
          }
        }
      } else if (method == "textDocument/didClose") {
        const std::string uri = params.at("textDocument").at("uri").get<std::string>();
        if (documents.erase(uri) > 0) {
          Notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}});
        }
      }
    } catch (const json::exception&) {
      // A malformed notification is dropped: the protocol gives it no answer.
    }
  }
};

LanguageServer::LanguageServer(LanguageServerOptions options, Sender send) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->send = std::move(send);
}

LanguageServer::~LanguageServer() = default;

bool LanguageServer::exited() const {
  return impl_->exited;
}

int LanguageServer::exitCode() const {
  return impl_->shutdown ? 0 : 1;
}

void LanguageServer::Receive(const MessageFrame& frame, Clock::time_point now) {
  switch (frame.kind) {
    case MessageFrame::Kind::kTooLarge:
      impl_->Fail(nullptr, kInvalidRequest,
                  "message of " + std::to_string(frame.size) + " bytes dropped: a message may have at most " +
                      std::to_string(kMaxMessageBytes) + " bytes");
      return;
    case MessageFrame::Kind::kBadHeader:
      impl_->Fail(nullptr, kParseError, "message header without a valid Content-Length");
      return;
    case MessageFrame::Kind::kEnd:
    case MessageFrame::Kind::kWoken:
      impl_->exited = true;
      return;
    case MessageFrame::Kind::kMessage:
      break;
  }
  json message = json::parse(frame.body, nullptr, false);
  if (message.is_discarded()) {
    impl_->Fail(nullptr, kParseError, "the message is no valid JSON");
    return;
  }
  try {
    impl_->Handle(message, now);
  } catch (const json::exception& e) {
    const json id = message.is_object() && message.contains("id") ? message["id"] : json(nullptr);
    impl_->Fail(id, kInvalidParams, std::string("malformed request: ") + e.what());
  }
}

LanguageServer::Clock::time_point LanguageServer::Tick(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  for (auto& [uri, d] : impl_->documents) {
    if (!d.due) continue;
    if (d.dueAt <= now) {
      impl_->Analyse(d, true);
    } else {
      next = std::min(next, d.dueAt);
    }
  }
  return next;
}

int RunLanguageServer(platform::Descriptor input, platform::Descriptor output, LanguageServerOptions options) {
  FrameWriter writer(output);
  LanguageServer server(std::move(options), [&](const std::string& message) { writer.Send(message); });

  // The reader thread waits for the client; this thread answers and checks.
  std::mutex lock;
  std::condition_variable arrived;
  std::deque<MessageFrame> queue;
  bool ended = false;
  platform::WakeEvent wake;
  std::thread reader([&] {
    FrameReader frames(input, kMaxMessageBytes, wake.valid() ? &wake : nullptr);
    for (;;) {
      MessageFrame frame = frames.Next();
      const bool last = frame.kind == MessageFrame::Kind::kEnd || frame.kind == MessageFrame::Kind::kWoken;
      std::unique_lock<std::mutex> hold(lock);
      // A client that sends faster than the checks run waits here, so the
      // queue stays small.
      arrived.wait(hold, [&] { return queue.size() < 64 || ended; });
      if (!ended) queue.push_back(std::move(frame));
      if (last) ended = true;
      arrived.notify_all();
      if (last || ended) return;
    }
  });

  LanguageServer::Clock::time_point due = LanguageServer::Clock::time_point::max();
  while (!server.exited()) {
    std::optional<MessageFrame> frame;
    {
      std::unique_lock<std::mutex> hold(lock);
      auto ready = [&] { return !queue.empty(); };
      if (due == LanguageServer::Clock::time_point::max()) {
        arrived.wait(hold, ready);
      } else {
        arrived.wait_until(hold, due, ready);
      }
      if (!queue.empty()) {
        frame = std::move(queue.front());
        queue.pop_front();
        arrived.notify_all();
      }
    }
    if (frame) server.Receive(*frame);
    due = server.Tick();
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    arrived.notify_all();
  }
  wake.Set();
  // Without a wake event the reader may sit in a read nobody will answer;
  // the process is ending, so it is left to that.
  if (wake.valid()) {
    reader.join();
  } else {
    reader.detach();
  }
  return server.exitCode();
}

}  // namespace velmar
