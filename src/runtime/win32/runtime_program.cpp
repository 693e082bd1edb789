// The small programs of the runtime that the player starts for web commands: the browser
// brokers (native messaging hosts that Chrome and Firefox start with a pipe on standard
// input and output), the web extension installer and the connection helper. They answer
// one length-prefixed message with a greeting that names the program, which is all a
// player needs to see that the program it shipped runs.
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifndef RUNTIME_PROGRAM_NAME
#error "RUNTIME_PROGRAM_NAME names the program"
#endif

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s 1.0\n", RUNTIME_PROGRAM_NAME);
    return 0;
  }
  uint32_t length = 0;
  if (std::fread(&length, sizeof length, 1, stdin) != 1) return 0;
  // Messages are small; skip whatever arrives, then answer with a JSON greeting.
  for (uint32_t i = 0; i < length && std::fgetc(stdin) != EOF; ++i) {
  }
  char answer[128];
  const int size = std::snprintf(answer, sizeof answer, "{\"program\":\"%s\",\"ready\":true}", RUNTIME_PROGRAM_NAME);
  const uint32_t answer_length = static_cast<uint32_t>(size);
  std::fwrite(&answer_length, sizeof answer_length, 1, stdout);
  std::fwrite(answer, 1, answer_length, stdout);
  return 0;
}
