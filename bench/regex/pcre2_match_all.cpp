// The anchor of bench/regex_cli_vs_pcre2.sh: the match-all of `velmar regex`
// done by PCRE2's interpreter (no JIT), case-insensitive, printing the same
// report ("count:N; groups:G;" then one line per group text of every match).
//
//   pcre2_match_all [--dotall] PATTERN FILE
#define PCRE2_CODE_UNIT_WIDTH 8
#include <fcntl.h>
#include <pcre2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  bool dotAll = false;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--dotall") == 0) {
    dotAll = true;
    ++arg;
  }
  if (argc - arg != 2) {
    std::fputs("usage: pcre2_match_all [--dotall] PATTERN FILE\n", stderr);
    return 2;
  }
  const int fd = open(argv[arg + 1], O_RDONLY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    std::fprintf(stderr, "pcre2_match_all: cannot read %s\n", argv[arg + 1]);
    return 1;
  }
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(got);

  int error = 0;
  PCRE2_SIZE offset = 0;
  const uint32_t options = PCRE2_CASELESS | (dotAll ? PCRE2_DOTALL : 0);
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(argv[arg]), PCRE2_ZERO_TERMINATED,
                                   options, &error, &offset, nullptr);
  if (!code) {
    std::fputs("pcre2_match_all: the pattern does not compile\n", stderr);
    return 2;
  }
  uint32_t captures = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
  // The report holds the capture groups only, as the script dialect's braces.
  const int groups = static_cast<int>(captures);
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
  // Offsets first, the report after: the count heads it.
  std::vector<PCRE2_SIZE> spans;
  PCRE2_SIZE from = 0;
  while (groups > 0 && from <= text.size()) {
    const int rc = pcre2_match(code, subject, text.size(), from, 0, md, nullptr);
    if (rc <= 0) break;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    for (int g = 1; g <= groups; ++g) {
      const bool set = g < rc && ov[2 * g] != PCRE2_UNSET;
      spans.push_back(set ? ov[2 * g] : 0);
      spans.push_back(set ? ov[2 * g + 1] : 0);
    }
    if (ov[1] >= text.size()) break;
    from = ov[1] == ov[0] ? ov[1] + 1 : ov[1];
  }
  const std::size_t count = spans.size() / 2;
  std::string out;
  char head[64];
  std::snprintf(head, sizeof head, "count:%zu; groups:%d;", count, text.empty() ? 0 : groups);
  out += head;
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(head, sizeof head, "\r\n%03zu - ", i);
    out += head;
    out.append(text, spans[2 * i], spans[2 * i + 1] - spans[2 * i]);
  }
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  pcre2_match_data_free(md);
  pcre2_code_free(code);
  return 0;
}
