#pragma once
// A test suite with one private server, reset before every test; tests
// skip, saying why, where it cannot run.
#include "platform/ssh/SshConnection.h"
#include "sftp/PrivateSshd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tarnel::test {

class ServerFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new PrivateSshd; }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!server->Problem().empty())
            GTEST_SKIP() << server->Problem();
        server->Reset();
        SshConnection::SetAnswerTimeout(std::chrono::seconds(3));
        folder = server->Dir() + "/served";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        if (server && server->Problem().empty()) {
            server->Answer();
            SshConnection::DisconnectAll();
        }
    }
    static void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    static inline PrivateSshd* server = nullptr;
    std::string folder; // served: the tests' files lie here
};

} // namespace tarnel::test
