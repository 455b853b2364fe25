# Writes a C++ source that holds the manual's Markdown chapters, so that
# `velmar help` works from any installed copy without looking for files.
#   cmake -DOUTPUT=file.cpp -DDOCS_DIR=docs -P embed_manual.cmake
file(GLOB chapters ${DOCS_DIR}/*.md)
list(SORT chapters)
set(body "")
set(table "")
set(index 0)
foreach(chapter ${chapters})
  get_filename_component(name ${chapter} NAME)
  file(READ ${chapter} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "constexpr char kChapter${index}[] = {${bytes}'\\0'};\n")
  string(APPEND table "    {\"${name}\", {kChapter${index}, sizeof kChapter${index} - 1}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp
  "// Generated from docs/*.md by cmake/embed_manual.cmake; do not edit.\n"
  "#include \"cli/manual_text.h\"\n\n"
  "namespace velmar {\n\nnamespace {\n\n${body}\n"
  "constexpr ManualChapter kChapters[] = {\n${table}};\n\n}  // namespace\n\n"
  "std::span<const ManualChapter> ManualChapters() {\n  return kChapters;\n}\n\n"
  "}  // namespace velmar\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
