// Publisher keys and signatures made with the openssl command and scripts/sign-downloads.sh,
// the tools a publisher uses.
#pragma once

#include <string>

namespace testsign {

struct Key {
  std::string privatePath; // PEM private key file
  std::string publicPem;   // PEM "PUBLIC KEY" text
};

// A fresh key in folder dir (files name.pem, name.pub.pem); curve e.g. "prime256v1".
Key MakeKey(const std::string& dir, const std::string& name,
            const std::string& curve = "prime256v1");
// The DER signature `openssl dgst -sha256 -sign` makes over data.
std::string Sign(const Key& key, const std::string& data);
// Runs scripts/sign-downloads.sh on folder, with options before the key (e.g. "--serial 5").
void SignFolder(const Key& key, const std::string& folder, const std::string& options = "");

} // namespace testsign
