// The server refuses a security set it cannot use: one line naming the file
// and the reason, and a failed start, never an unsecured participant.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "boardkit/Board.h"
#include "boardkit/ChildProcess.h"

using namespace std::chrono_literals;

TEST(SecuredServerProcess, RefusesEachBrokenArtifactWithItsLine) {
    if (access("/dev/mem", F_OK) == 0) {
        GTEST_SKIP() << "/dev/mem exists here; the server must not map the host's physical memory";
    }
    boardkit::TempDir pki("chronavel-pki");
    boardkit::TempDir other("chronavel-pki");
    const std::string script = CHRONAVEL_SOURCE_DIR "/config/security/make-demo-pki.sh ";
    ASSERT_EQ(0, std::system((script + "--expired " + pki.path()).c_str()));
    ASSERT_EQ(0, std::system((script + other.path()).c_str()));
    std::string governance = boardkit::readFile(pki.file("governance.p7s"));
    governance.replace(governance.find("<max>232</max>"), 14, "<max>231</max>");
    const std::string tampered = pki.write("tampered.p7s", governance);

    using Files = FACE::TSS::Security::Files;
    const Files good = boardkit::DemoIdentity(pki.path(), "server");
    struct Row {
        std::string what;
        Files files;
        std::string line;  // "" for the good set
    };
    const auto with = [&](std::string Files::*file, const std::string& value) {
        Files f = good;
        f.*file = value;
        return f;
    };
    const std::string prefix = "DDS security: ";
    const Row rows[] = {
        {"good", good, ""},
        {"expired", with(&Files::identityCertificate, pki.file("server-expired.pem")),
         prefix + pki.file("server-expired.pem") + ": expired on 2021-01-01 00:00:00 UTC"},
        {"wrong CA", with(&Files::identityCa, other.file("ca.pem")),
         prefix + good.identityCertificate + ": is not signed by the identity CA " + other.file("ca.pem")},
        {"tampered governance", with(&Files::governance, tampered),
         prefix + tampered + ": its signature does not verify against the permissions CA " + good.permissionsCa},
        {"permissions of another CA", with(&Files::permissions, other.file("permissions.p7s")),
         prefix + other.file("permissions.p7s") + ": its signature does not verify against the permissions CA " +
             good.permissionsCa},
        {"foreign key", with(&Files::privateKey, pki.file("console.key")),
         prefix + pki.file("console.key") + ": does not match the identity certificate " + good.identityCertificate},
        {"no grant", Files{good.identityCa, pki.file("ca.pem"), pki.file("ca.key"), good.permissionsCa, good.governance,
                           good.permissions},
         prefix + good.permissions +
             ": has no grant for \"CN=Chronavel demo CA,O=Chronavel-demo,C=XX\", the subject of " + pki.file("ca.pem")},
        {"missing", with(&Files::permissionsCa, pki.file("none.pem")),
         prefix + pki.file("none.pem") + ": cannot be read (No such file or directory)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        boardkit::ScriptedBoard board;
        boardkit::ServerSettings settings;
        settings.dds = boardkit::FastRtps(231);
        settings.dds.security = boardkit::SecuritySet(row.files);
        boardkit::ChildProcess chronavel({CHRONAVEL_PATH, board.writeConfiguration(settings)});
        EXPECT_EQ(2, chronavel.exitCode(30s)) << chronavel.output();
        const std::string& out = chronavel.output();
        if (row.line.empty()) {
            // On a host without the FPGA the start ends after the transport came up.
            EXPECT_EQ(std::string::npos, out.find(prefix)) << out;
            EXPECT_NE(std::string::npos, out.find("Chronavel - Success all is well with tss\n")) << out;
        } else {
            EXPECT_NE(std::string::npos, out.find(row.line + "\n")) << out;
            EXPECT_EQ(out.find(prefix), out.rfind(prefix)) << out;
            EXPECT_NE(std::string::npos, out.find("INVALID_CONFIG Framework_Connect() failed")) << out;
        }
    }
}
