/* Functions with int and text parameters and results, for the native-call
   tests: each result shows which value arrived in which parameter. */

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static int calls;
static char buffer[4096];

int add(int a, int b) {
  ++calls;
  return a + b;
}

/* Not symmetric, so the parameter order shows in the result. */
int minus(int a, int b) {
  ++calls;
  return a - b;
}

int call_count(void) {
  return calls;
}

const char* join3(const char* a, const char* b, const char* c) {
  ++calls;
  snprintf(buffer, sizeof buffer, "%s|%s|%s", a, b, c);
  return buffer;
}

/* Mixed types: text first, number second. */
const char* repeat(const char* text, int times) {
  ++calls;
  buffer[0] = '\0';
  for (int i = 0; i < times && strlen(buffer) + strlen(text) < sizeof buffer; ++i) {
    strcat(buffer, text);
  }
  return buffer;
}

const char* nothing(void) {
  ++calls;
  return NULL;
}

const wchar_t* wide(void) {
  ++calls;
  return L"wide \x4E2D\x6587 \x1F600";
}

int sum8(int a, int b, int c, int d, int e, int f, int g, int h) {
  ++calls;
  return a * 1 + b * 10 + c * 100 + d * 1000 + e * 10000 + f * 100000 + g * 1000000 + h * 10000000;
}
