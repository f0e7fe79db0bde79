#include "support/signing.h"

#include <stdexcept>

#include <cstdlib>

#include "support/testenv.h"

namespace testsign {

namespace {

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void Run(const std::string& command) {
  int status = std::system((command + " 2>/dev/null").c_str());
  if (status != 0) throw std::runtime_error("failed: " + command);
}

} // namespace

Key MakeKey(const std::string& dir, const std::string& name, const std::string& curve) {
  Key key{dir + "/" + name + ".pem", {}};
  const std::string pub = dir + "/" + name + ".pub.pem";
  Run("openssl ecparam -genkey -noout -name " + curve + " -out " + Quoted(key.privatePath));
  Run("openssl ec -in " + Quoted(key.privatePath) + " -pubout -out " + Quoted(pub));
  key.publicPem = testenv::ReadFile(pub);
  return key;
}

std::string Sign(const Key& key, const std::string& data) {
  const std::string in = key.privatePath + ".data", out = key.privatePath + ".sig";
  testenv::WriteFile(in, data);
  Run("openssl dgst -sha256 -sign " + Quoted(key.privatePath) + " -out " + Quoted(out) + " " +
      Quoted(in));
  return testenv::ReadFile(out);
}

void SignFolder(const Key& key, const std::string& folder, const std::string& options) {
  Run(Quoted(std::string(CORVANE_SOURCE_DIR) + "/scripts/sign-downloads.sh") + " " + options + " " +
      Quoted(key.privatePath) + " " + Quoted(folder));
}

} // namespace testsign
