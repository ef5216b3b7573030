// The entry point of every test program.
#include <gtest/gtest.h>

#include <openssl/crypto.h>

int main(int argc, char** argv) {
    // OpenSSL keeps the state of the thread that sets it up until that thread ends; set it up here,
    // as the application does, so it never lives on a worker thread that outlasts the leak check.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
