#include <cstdio>

int main() {
  std::puts("velmar " VELMAR_VERSION);
  return 0;
}
