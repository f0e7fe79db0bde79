// A blockchain download that was cut keeps what arrived, and the next press asks for the rest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "install_fixture.h"

namespace installtest {
namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::Contains;

class ResumedBlockchain : public InstallSteps {
protected:
  const std::string archive = MarkingArchive() + "exit 0\n" + std::string(20000, '#');
  const std::string partial = appData + "/cvnchain.exe.part";
  const std::string total = partial + ".total";

  // A partial file as a cut download leaves it: its first `have` bytes, the total and the
  // version it is of.
  void Leave(size_t have, const std::string& validator = "") {
    WriteFile(partial, archive.substr(0, have));
    WriteFile(total,
              std::to_string(archive.size()) + "\n" + validator + (validator.empty() ? "" : "\n"));
  }
  PeerScript Part(size_t from, const std::string& body, size_t totalSize, size_t cutAt = 0,
                  const std::string& lines = "") {
    const std::string rest = body.substr(from, cutAt ? cutAt - from : std::string::npos);
    return Reply("HTTP/1.0 206 Partial Content\r\n" + lines +
                     "Content-Length: " + std::to_string(body.size() - from) +
                     "\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                     std::to_string(totalSize - 1) + "/" + std::to_string(totalSize),
                 rest);
  }
  std::string RangeLine(size_t connection, const char* name = "\nRange: ") {
    std::string r = peer->Received(connection);
    size_t at = r.find(name);
    if (at != std::string::npos) ++at;
    return at == std::string::npos ? "" : r.substr(at, r.find("\r\n", at) - at);
  }
  void ExpectInstalledAndRun() {
    EXPECT_EQ(ReadFile(appData + "/cvnchain.exe"), archive);
    EXPECT_TRUE(Exists(archiveRan));
    EXPECT_FALSE(Exists(partial));
    EXPECT_FALSE(Exists(total));
  }
};

TEST_F(ResumedBlockchain, CutTwiceThenResumedGivesTheWholeArchive) {
  const std::string head =
      "HTTP/1.0 200 OK\r\nETag: \"v7\"\r\nContent-Length: " + std::to_string(archive.size());
  Start(
      {PeerScript().ReadUntil("\r\n\r\n").Send(head + "\r\n\r\n" + archive.substr(0, 7000)).Close(),
       Part(7000, archive, archive.size(), 12000), Part(12000, archive, archive.size())});
  Press(false, true);
  EXPECT_EQ(RangeLine(0), "");
  // The part belongs to that version of the archive: a changed one comes whole.
  EXPECT_EQ(RangeLine(1), "Range: bytes=7000-");
  EXPECT_EQ(RangeLine(1, "\nIf-Range: "), "If-Range: \"v7\"");
  EXPECT_EQ(RangeLine(2), "Range: bytes=12000-");
  EXPECT_EQ(RangeLine(2, "\nIf-Range: "), "If-Range: \"v7\"");
  EXPECT_THAT(Log(), Contains("connection lost at byte 7000 - retrying in 1 s"));
  EXPECT_THAT(Log(), Contains("resuming download from byte 12000"));
  EXPECT_EQ(view().progressMax, static_cast<int>(archive.size()));
  EXPECT_EQ(view().progressPosition, static_cast<int>(archive.size()));
  EXPECT_TRUE(view().boxes.empty());
  ExpectInstalledAndRun();
}

TEST_F(ResumedBlockchain, ServerThatIgnoresTheRangeStartsOver) {
  Start({Ok(archive)});
  Leave(5000);
  Press(false, true);
  EXPECT_EQ(RangeLine(0), "Range: bytes=5000-");
  EXPECT_EQ(peer->Connections(), 1u);
  ExpectInstalledAndRun();
}

// A part of another total or of another version (a server that ignores If-Range sends the rest
// of its new one), or a range the server cannot give, is never joined: the download starts over
// with a plain request.
TEST_F(ResumedBlockchain, RefusedResumeStartsOver) {
  const std::string bigger = archive + "more";
  const std::string date = "Mon, 07 Dec 2026 10:00:00 GMT";
  const struct {
    PeerScript refusal;
    std::string validator; // the part's
  } cases[] = {
      {Part(5000, bigger, bigger.size()), ""},
      {Reply("HTTP/1.0 416 Range Not Satisfiable\r\nContent-Range: bytes */100", ""), ""},
      {Part(5000, archive, archive.size(), 0, "ETag: \"v8\"\r\n"), "\"v7\""},
      {Part(5000, archive, archive.size(), 0, "ETag: W/\"v7\"\r\n"), "\"v7\""},
      {Part(5000, archive, archive.size(), 0,
            "ETag: \"v7\"\r\nLast-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n"),
       date},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.validator);
    Start({c.refusal, Ok(archive)});
    Leave(5000, c.validator);
    Press(false, true);
    EXPECT_THAT(Log(), Contains("cannot resume - starting over"));
    EXPECT_EQ(RangeLine(1), "");
    ExpectInstalledAndRun();
    std::filesystem::remove(archiveRan);
    form.reset();
  }
}

// An error reply is not retried, and says nothing about what the part holds.
TEST_F(ResumedBlockchain, NotFoundLeavesThePartial) {
  Start({NotFound()});
  Leave(5000);
  Press(false, true);
  EXPECT_EQ(view().boxes.back().text, "could not download blockchain");
  EXPECT_EQ(peer->Connections(), 1u);
  EXPECT_EQ(ReadFile(partial), archive.substr(0, 5000));
  EXPECT_TRUE(Exists(total));
}

// A power cut may leave a part longer than what reached the disk, the tail zeros: the part is
// continued from the length its record says is on the disk. A part from an earlier version, with
// no such record, continues from its length; a record that cannot be read, or one longer than the
// part, vouches for nothing and the download starts over. A record being replaced when the
// program was killed leaves its new copy beside it, which counts for nothing.
TEST_F(ResumedBlockchain, PartIsContinuedFromItsDurableLength) {
  const std::string head =
      "HTTP/1.0 200 OK\r\nETag: \"v7\"\r\nContent-Length: " + std::to_string(archive.size());
  struct {
    const char* record;    // the third line of the totals file
    size_t from;           // 0: starts over with a plain request
    const char* junk = ""; // after the total
  } cases[] = {
      {"durable 8000\n", 8000},
      {"", 12000},
      {"durable 8000x\n", 0},
      {"durable\n", 0},
      {"durable 0\n", 0},
      {"durable 30000\n", 0},
      {"durable 8000\n", 0, "junk"},
      {"", 0, "junk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.junk) + " " + c.record);
    Start({c.from ? Part(c.from, archive, archive.size())
                  : PeerScript().ReadUntil("\r\n\r\n").Send(head + "\r\n\r\n" + archive)});
    WriteFile(partial, archive.substr(0, 12000) + std::string(4096, '\0'));
    if (std::string(c.record).empty()) std::filesystem::resize_file(partial, 12000);
    WriteFile(total, std::to_string(archive.size()) + c.junk + "\n\"v7\"\n" + c.record);
    WriteFile(total + ".new", "1\n\"v0\"\ndurable 1");
    Press(false, true);
    EXPECT_EQ(RangeLine(0), c.from ? "Range: bytes=" + std::to_string(c.from) + "-" : "");
    EXPECT_EQ(peer->Connections(), 1u);
    ExpectInstalledAndRun();
    EXPECT_FALSE(Exists(total + ".new"));
    std::filesystem::remove(archiveRan);
    form.reset();
  }
}

// What the writer put on the disk is recorded beside the part: a cut body's record holds all that
// arrived, with the total and version the next try continues. A 206 covering the whole archive
// to the plain request (a cache on the way) is recorded as a 200 is.
TEST_F(ResumedBlockchain, CutBodyRecordsWhatIsOnTheDisk) {
  const std::string date = "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\nContent-Length: " +
                           std::to_string(archive.size());
  const std::string whole =
      "bytes 0-" + std::to_string(archive.size() - 1) + "/" + std::to_string(archive.size());
  for (const std::string& head :
       {"HTTP/1.0 200 OK\r\n" + date,
        "HTTP/1.0 206 Partial Content\r\nContent-Range: " + whole + "\r\n" + date}) {
    SCOPED_TRACE(head);
    Start({PeerScript()
               .ReadUntil("\r\n\r\n")
               .Send(head + "\r\n\r\n" + archive.substr(0, 7000))
               .Close(),
           NotFound()});
    Press(false, true);
    EXPECT_EQ(RangeLine(1), "Range: bytes=7000-");
    EXPECT_EQ(ReadFile(total),
              std::to_string(archive.size()) + "\nMon, 07 Dec 2026 10:00:00 GMT\ndurable 7000\n");
    EXPECT_EQ(ReadFile(partial), archive.substr(0, 7000));
    form.reset();
    std::filesystem::remove(partial);
    std::filesystem::remove(total);
  }
}

} // namespace
} // namespace installtest
