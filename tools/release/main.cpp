// plovander-release: makes signing keys and signed release archives.
//
//   plovander-release keygen <private.pem>
//       writes a new Ed25519 private key (0600) and prints its public half in hexadecimal
//   plovander-release build <tree> <archive> <url> <publisher.pem> <notary.pem> <minimum glibc>
//       signs <tree> (".../Plovander.app"), packs it into <archive> and prints the manifest

#include "app/updater/release/ReleaseBuilder.h"
#include "app/updater/release/ReleaseKeys.h"

#include <gnu/libc-version.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string_view>

namespace {

int usage() {
    std::cerr << "usage: plovander-release keygen <private.pem>\n"
                 "       plovander-release build <tree> <archive> <url> <publisher.pem> <notary.pem> [minimum glibc]\n";
    return 2;
}

std::string hexOf(const Plovander::PublicKey& key) {
    std::string text;
    char pair[3];
    for (const auto byte : key) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string_view command = argv[1];
    try {
        if (command == "keygen" && argc == 3) {
            const auto key = Plovander::SigningKey::generate();
            key.save(argv[2]);
            std::cout << hexOf(key.publicKey()) << "\n";
            return 0;
        }
        if (command == "build" && (argc == 7 || argc == 8)) {
            const auto publisher = Plovander::SigningKey::load(argv[5]);
            const auto notary = Plovander::SigningKey::load(argv[6]);
            const Plovander::ReleaseBuilder::Request request{
                .tree = argv[2],
                .archive = argv[3],
                .url = argv[4],
                .minimumSystem = argc == 8 ? argv[7] : gnu_get_libc_version(),
                .architecture = {}};
            std::cout << Plovander::ReleaseBuilder::build(request, publisher, notary) << "\n";
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "plovander-release: " << error.what() << "\n";
        return 1;
    }
    return usage();
}
