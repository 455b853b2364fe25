#include "cli/help_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "cli/manual_text.h"
#include "values/version.h"

namespace velmar {

namespace {

// One heading of the manual and the text it governs: up to the next heading
// of the same or a higher level.
struct Section {
  int level = 0;
  std::string title;   // the heading without its marks and anchor
  std::string anchor;  // e.g. "stmt-get"; empty when the heading has none
  std::string_view text;
  std::size_t chapter = 0;
  std::size_t begin = 0;  // offsets into the chapter, for nesting
  std::size_t end = 0;
};

// Anchor prefixes in the order a topic name is looked up: a command of the
// velmar program first, then a whole topic, a statement, a built-in
// function, a Config.ini key.
constexpr std::string_view kPrefixes[] = {"cmd-", "topic-", "stmt-", "fn-", "key-"};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// "### `get` {#stmt-get}" gives level 3, title "get", anchor "stmt-get".
bool ParseHeading(std::string_view line, Section& out) {
  int level = 0;
  while (level < static_cast<int>(line.size()) && line[level] == '#') ++level;
  if (level == 0 || level > 6 || level >= static_cast<int>(line.size()) || line[level] != ' ') {
    return false;
  }
  std::string_view rest = TrimView(line.substr(level + 1));
  std::string anchor;
  if (!rest.empty() && rest.back() == '}') {
    const std::size_t open = rest.rfind("{#");
    if (open != std::string_view::npos) {
      anchor = std::string(rest.substr(open + 2, rest.size() - open - 3));
      rest = TrimView(rest.substr(0, open));
    }
  }
  std::string title;
  for (char c : rest) {
    if (c != '`') title += c;
  }
  out.level = level;
  out.title = std::move(title);
  out.anchor = std::move(anchor);
  return true;
}

std::vector<Section> ReadSections() {
  std::vector<Section> sections;
  const auto chapters = ManualChapters();
  for (std::size_t c = 0; c < chapters.size(); ++c) {
    const std::string_view text = chapters[c].text;
    const std::size_t first = sections.size();
    bool fenced = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t eol = text.find('\n', pos);
      if (eol == std::string_view::npos) eol = text.size();
      const std::string_view line = text.substr(pos, eol - pos);
      if (line.substr(0, 3) == "```") fenced = !fenced;
      Section section;
      if (!fenced && ParseHeading(line, section)) {
        section.chapter = c;
        section.begin = pos;
        sections.push_back(std::move(section));
      }
      pos = eol + 1;
    }
    // A section ends where the next heading of its level or above begins.
    for (std::size_t i = first; i < sections.size(); ++i) {
      sections[i].end = text.size();
      for (std::size_t j = i + 1; j < sections.size(); ++j) {
        if (sections[j].level <= sections[i].level) {
          sections[i].end = sections[j].begin;
          break;
        }
      }
      sections[i].text = text.substr(sections[i].begin, sections[i].end - sections[i].begin);
    }
  }
  return sections;
}

// "[text](#anchor)" reads as "text" in a terminal, where links lead nowhere.
// The text may hold brackets of its own, as in "[`[@len]`](#fn-len)".
std::string DropLinkTargets(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t mark = text.find("](#", pos);
    const std::size_t close =
        mark == std::string::npos ? std::string::npos : text.find(')', mark + 3);
    if (close == std::string::npos) break;
    std::size_t open = mark;
    int depth = 0;
    for (std::size_t i = mark + 1; i-- > pos;) {
      depth += text[i] == ']' ? 1 : text[i] == '[' ? -1 : 0;
      if (depth == 0) {
        open = i;
        break;
      }
    }
    if (open == mark) {  // no opening bracket: not a link
      out.append(text, pos, close + 1 - pos);
    } else {
      out.append(text, pos, open - pos);
      out.append(text, open + 1, mark - open - 1);
    }
    pos = close + 1;
  }
  out.append(text, pos);
  return out;
}

// Columns a text takes in a terminal: one per character, two for the wide
// East Asian ones (the interface's Chinese labels appear in tables).
std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 1;
    if (i + length > text.size()) length = text.size() - i;
    uint32_t cp = lead;
    if (length > 1) {
      cp = lead & (0x7F >> length);
      for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6);
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

// The cells of a table row "| a | b |"; a `\|` stays inside its cell.
std::vector<std::string> TableCells(std::string_view line) {
  std::vector<std::string> cells;
  line = TrimView(line);
  if (!line.empty() && line.front() == '|') line.remove_prefix(1);
  if (!line.empty() && line.back() == '|' && (line.size() < 2 || line[line.size() - 2] != '\\')) {
    line.remove_suffix(1);
  }
  std::string cell;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
      cell += '|';
      ++i;
    } else if (line[i] == '|') {
      cells.push_back(DropLinkTargets(std::string(TrimView(cell))));
      cell.clear();
    } else {
      cell += line[i];
    }
  }
  cells.push_back(DropLinkTargets(std::string(TrimView(cell))));
  return cells;
}

bool IsDelimiterRow(const std::vector<std::string>& cells) {
  for (const std::string& cell : cells) {
    if (cell.empty() || cell.find_first_not_of("-: ") != std::string::npos) return false;
  }
  return true;
}

// A Markdown table as aligned columns, the header underlined; what a
// terminal shows of "| a | b |" rows is otherwise a wall of pipes.
std::string AlignedTable(const std::vector<std::string_view>& rows) {
  std::vector<std::vector<std::string>> cells;
  bool header = false;
  for (std::string_view row : rows) {
    std::vector<std::string> parsed = TableCells(row);
    if (IsDelimiterRow(parsed)) {
      header = cells.size() == 1;
      continue;
    }
    cells.push_back(std::move(parsed));
  }
  std::vector<std::size_t> widths;
  for (const auto& row : cells) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
  }
  std::string out;
  auto emit = [&](const std::vector<std::string>& row) {
    std::string line = "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - DisplayWidth(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line;
    out += '\n';
  };
  for (std::size_t r = 0; r < cells.size(); ++r) {
    emit(cells[r]);
    if (r == 0 && header) {
      std::string rule = "  ";
      for (std::size_t c = 0; c < widths.size(); ++c) {
        rule.append(widths[c], '-');
        if (c + 1 < widths.size()) rule += "  ";
      }
      out += rule;
      out += '\n';
    }
  }
  return out;
}

// The Markdown as it reads in a terminal: headings without their marks and
// anchors, tables as aligned columns, everything else as written.
void PrintSection(const Section& section) {
  std::string out;
  std::string_view text = section.text;
  bool fenced = false;
  std::vector<std::string_view> table;
  while (!text.empty() || !table.empty()) {
    std::size_t eol = text.find('\n');
    const std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    const bool tableRow = !fenced && !TrimView(line).empty() && TrimView(line).front() == '|';
    if (tableRow) {
      table.push_back(line);
      if (!text.empty()) continue;
    }
    if (!table.empty()) {
      out += AlignedTable(table);
      table.clear();
      if (tableRow) continue;
    }
    if (line.substr(0, 3) == "```") {
      fenced = !fenced;
      continue;
    }
    Section heading;
    if (!fenced && ParseHeading(line, heading)) {
      out += heading.title;
      out += '\n';
      out.append(heading.title.size(), heading.level <= 2 ? '=' : '-');
      out += '\n';
    } else {
      out += fenced ? "    " : "";
      out += line;
      out += '\n';
    }
  }
  out = DropLinkTargets(out);
  while (out.size() > 1 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n') {
    out.pop_back();
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

void PrintColumns(const std::vector<std::string>& names) {
  std::size_t width = 0;
  for (const std::string& name : names) width = std::max(width, name.size());
  width += 2;
  const std::size_t perLine = std::max<std::size_t>(1, 78 / width);
  std::string line = " ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    line += ' ';
    line += names[i];
    if ((i + 1) % perLine == 0 || i + 1 == names.size()) {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      std::puts(line.c_str());
      line = " ";
    } else {
      line.append(width - names[i].size(), ' ');
    }
  }
}

void PrintTopicList(const std::vector<Section>& sections) {
  std::puts("usage: velmar help TOPIC   shows the manual's page for a topic, a statement,");
  std::puts("                           a built-in function or a Config.ini key\n");
  const std::string_view groups[] = {"Commands", "Topics", "Statements", "Built-in functions",
                                     "Config.ini keys"};
  for (std::size_t g = 0; g < std::size(kPrefixes); ++g) {
    std::vector<std::string> names;
    for (const Section& section : sections) {
      if (section.anchor.rfind(kPrefixes[g], 0) == 0) {
        names.push_back(section.anchor.substr(kPrefixes[g].size()));
      }
    }
    if (names.empty()) continue;
    std::printf("%.*s:\n", static_cast<int>(groups[g].size()), groups[g].data());
    PrintColumns(names);
    std::puts("");
  }
}

}  // namespace

int PrintVersion(const char* program) {
  std::printf("%s %s\n", program, kVersion);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

std::string ManualSection(std::string_view anchor) {
  static const std::vector<Section> sections = ReadSections();
  for (const Section& section : sections) {
    if (section.anchor != anchor) continue;
    // Headings without their anchors: an editor shows the Markdown as it is.
    std::string out;
    std::string_view text = section.text;
    while (!text.empty()) {
      const std::size_t eol = text.find('\n');
      std::string_view line = text.substr(0, eol);
      text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
      const std::size_t mark = line.rfind(" {#");
      if (!line.empty() && line.front() == '#' && mark != std::string_view::npos && line.back() == '}') {
        line = line.substr(0, mark);
      }
      out.append(line);
      out += '\n';
    }
    return DropLinkTargets(out);
  }
  return {};
}

int PrintCommandHelp(std::string_view command) {
  const std::string anchor = "cmd-" + std::string(command);
  for (const Section& section : ReadSections()) {
    if (section.anchor == anchor) {
      PrintSection(section);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  return 1;
}

int RunHelpCommand(const std::vector<std::string>& args) {
  const std::vector<Section> sections = ReadSections();
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) return PrintCommandHelp("help");
  if (args.empty()) {
    PrintTopicList(sections);
    return 0;
  }
  std::string topic = Lower(args[0]);
  for (std::size_t i = 1; i < args.size(); ++i) topic += "-" + Lower(args[i]);
  // `[@split]` and `@split` name the built-in, `<main>` the topic of labels.
  std::vector<std::string_view> prefixes(std::begin(kPrefixes), std::end(kPrefixes));
  if (topic.size() > 2 && topic.front() == '[' && topic.back() == ']') {
    topic = topic.substr(1, topic.size() - 2);
  }
  // The block braces are statements too; their section is the blocks topic.
  if (topic == "{" || topic == "}") topic = "blocks";
  if (!topic.empty() && topic.front() == '@') {
    topic.erase(0, 1);
    prefixes = {"fn-"};
  }

  std::vector<const Section*> found;
  for (std::string_view prefix : prefixes) {
    const std::string anchor = std::string(prefix) + topic;
    for (const Section& section : sections) {
      if (section.anchor != anchor) continue;
      // A statement inside a topic already shown is not shown twice.
      const bool inside = std::any_of(found.begin(), found.end(), [&](const Section* shown) {
        return shown->chapter == section.chapter && shown->begin <= section.begin &&
               section.end <= shown->end;
      });
      if (!inside) found.push_back(&section);
    }
  }
  if (found.empty()) {
    std::fprintf(stderr, "velmar help: no topic named \"%s\"", args[0].c_str());
    std::vector<std::string> near;
    for (const Section& section : sections) {
      const std::size_t dash = section.anchor.find('-');
      if (dash == std::string::npos) continue;
      const std::string name = section.anchor.substr(dash + 1);
      if (!topic.empty() && name.find(topic) != std::string::npos &&
          std::find(near.begin(), near.end(), name) == near.end()) {
        near.push_back(name);
      }
    }
    if (!near.empty()) {
      std::fputs("; did you mean:", stderr);
      for (const std::string& name : near) std::fprintf(stderr, " %s", name.c_str());
    }
    std::fputs("\n`velmar help` lists the topics.\n", stderr);
    return 1;
  }
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (i > 0) std::puts("");
    PrintSection(*found[i]);
  }
  return 0;
}

}  // namespace velmar
