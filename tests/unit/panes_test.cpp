// The panes as bounded append logs, and a data exchange that costs what changed.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "protocol/pane_log.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

// What a copy holder (the control table) does with the log's record of changes.
void ApplyTo(std::string& copy, PaneLog& log) {
    if (log.Replaced()) {
        copy = log.str();
    } else {
        ASSERT_LE(log.Dropped(), copy.size());
        copy.erase(0, log.Dropped());
        copy.append(log.Appended());
    }
    log.MarkSynced();
}

}  // namespace

TEST(PaneLog, KeepsTheNewestWholeLinesUpToItsLimit) {
    struct Case {
        const char* what;
        std::string before, appended, kept;
    };
    // Limit 16: an append that would pass it drops lines down to 14 bytes (7/8) with the tail.
    const Case cases[] = {
        {"fits", "aaaa\r\n", "bbbb\r\n", "aaaa\r\nbbbb\r\n"},
        {"oldest line goes", "aaaa\r\nbbbb\r\n", "cccc\r\n", "bbbb\r\ncccc\r\n"},
        {"as many as needed", "a\r\nb\r\nc\r\nddd\r\n", "eeeeeeeeeee", "eeeeeeeeeee"},
        {"a pair is never split", "aaaaaaa\n\rbbbb\n\r", "ccccc", "bbbb\n\rccccc"},
        {"lone breaks", "aaaaaa\rbbbbbb\rcc", "ddd", "bbbbbb\rccddd"},
        {"an empty line goes with its line", "aaaaaaaaa\r\n\r\nbb", "cc", "bbcc"},
        {"one long line keeps its newest part", "aaaaaaaaaaaaaaa", "bb", "aaaaaaaaaaaabb"},
        {"more than the limit at once", "aa\r\n", "0123456789abcdefXY", "23456789abcdefXY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PaneLog log(16);
        log += c.before;
        log += c.appended;
        EXPECT_EQ(log.str(), c.kept);
        EXPECT_LE(log.size(), 16u);
    }
}

TEST(PaneLog, ACopyFollowsByItsRecordAndTheKeptTextIsTheNewest) {
    // Random appends of lines with every kind of break, replacements and clears, on a small log:
    // a copy kept up to date by the record equals the log after every step, the log is the end of
    // everything appended since the last replacement, within its limit, with its last byte.
    std::mt19937 rng(7);
    const char* const breaks[] = {"\r\n", "\n\r", "\r", "\n", ""};
    PaneLog log(64);
    std::string copy, unlimited;
    for (int step = 0; step < 20000; ++step) {
        const int op = static_cast<int>(rng() % 100);
        if (op < 2) {
            unlimited = std::string(rng() % 10, 'r');
            log = unlimited;
        } else if (op < 3) {
            unlimited.clear();
            log.clear();
        } else {
            std::string piece(rng() % 12, static_cast<char>('a' + rng() % 26));
            piece += breaks[rng() % 5];
            unlimited += piece;
            log += piece;
        }
        if (rng() % 3 == 0) ApplyTo(copy, log);
        ASSERT_LE(log.size(), 64u);
        ASSERT_TRUE(std::string_view(unlimited).ends_with(log.str())) << step;
        if (!unlimited.empty()) {
            ASSERT_EQ(log.back(), unlimited.back());
        }
    }
    ApplyTo(copy, log);
    EXPECT_EQ(copy, log.str());
}

namespace {

// Counts what the control table tells its observer about the panes, as the window sees it.
struct CountingObserver final : ControlObserver {
    void OnControlChanged(const Control& c, ControlChange change, std::string_view bytes) override {
        if (c.id != 1003 && c.id != 1004) return;
        if (change == ControlChange::Text) {
            ++whole[c.id];
            copied += c.text.size();
        } else {
            copied += bytes.size();
        }
        if (change == ControlChange::TextAppended) appended[c.id] += bytes;
    }
    std::map<int, int> whole;
    std::map<int, std::string> appended;
    size_t copied = 0;
};

std::string Lines(size_t count, const std::string& line) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += line;
    return s;
}

}  // namespace

TEST(PaneExchange, PassesOnlyWhatChangedAndKeepsWhatTheOperatorTyped) {
    TestConsole c;
    CountingObserver seen;
    c.controls().SetObserver(&seen);
    // Long panes, typed in by the operator (10,000 lines each).
    const std::string message = Lines(10000, "old message line\r\n");
    const std::string status = Lines(10000, "old status line\r\n");
    c.Type(1003, message);
    c.Type(1004, status);

    struct Step {
        const char* what;
        uint8_t command;
        Bytes data;
        std::string status, message;  // what each pane gains
    };
    const Step steps[] = {
        {"STATUS answer", 'F', {'0', 0x00, 0x41, 0x02}, "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n", ""},
        {"BILL LEN answer", cmd::BillLenUpper, {'1', '2', '3', '4', '5', '6', '0', '1', '0', '0', '0', '1'}, "",
         " 31  32  33  34  35  36  RVDT 01  SUM 0001 \r\n"},
        {"BLDC speed answer", cmd::BldcSpeed, {'0', '1', '0', '0'}, "", " 256 "},
        {"a notice", cmd::Notice, {'1'}, "", "\r\n 50 02 9c 31"},
        {"clutch answer", cmd::ClutchUpper, {'1'}, "", ""},
    };
    std::string wantMessage = message, wantStatus = status;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        seen = {};
        c.Receive(s.command, s.data);
        wantMessage += s.message;
        wantStatus += s.status;
        EXPECT_EQ(seen.whole[1003] + seen.whole[1004], 0) << "a pane was handed on whole";
        EXPECT_EQ(seen.appended[1003], s.message);
        EXPECT_EQ(seen.appended[1004], s.status);
        EXPECT_EQ(seen.copied, s.message.size() + s.status.size());
        EXPECT_EQ(c.Message(), wantMessage);
        EXPECT_EQ(c.Status(), wantStatus);
    }

    // Typed between two answers: the next answer goes after it, nothing typed is lost.
    c.Type(1004, c.Status() + "typed");
    c.Type(1030, "7");
    c.Receive('F', {'0', 0x00, 0x00, 0x00});
    EXPECT_EQ(c.Status(), wantStatus + "typedSTATUS ERR : 00 SEN0 : 00 SEN1 : 00\r\n");
    EXPECT_EQ(c.controls().Text(1030), "7");
    // A decoder that replaces the Message pane hands it on whole, and only then.
    seen = {};
    c.Receive(cmd::RomVersion, {'2', '.', '0', '7', '1', '2', '3', '4'});
    EXPECT_EQ(c.Message(), "ROM Ver = 2.07   Check Sum = 1234");
    EXPECT_EQ(seen.whole[1003], 1);
    EXPECT_EQ(seen.whole[1004], 1);  // "ZEDA1000"
    c.controls().SetObserver(nullptr);
}
