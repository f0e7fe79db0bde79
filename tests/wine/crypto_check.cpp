// Runs the Windows half of the crypto interface on files named on the command line:
//   crypto_check PUBLIC.pem DATA SIGNATURE   prints "sha256 HEX" (of DATA) and "verify 0|1".
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/crypto.h"

static std::string Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  auto hash = platform::FileSha256(argv[2]);
  std::printf("sha256 %s\n", hash ? hash->c_str() : "none");
  bool ok = platform::VerifyP256Signature(Read(argv[1]), Read(argv[2]), Read(argv[3]));
  std::printf("verify %d\n", ok ? 1 : 0);
}
