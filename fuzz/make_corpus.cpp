// Writes the seed corpus of the fuzz targets: operator sessions that reach every page, every
// command and every decoder, with the frames of the protocol's own examples and the simulated
// module's answers, and typed texts around the edges of the parsers. Run it from the build:
//   fuzz_make_corpus [FOLDER]     (default: the source tree's fuzz/corpus)
// Every seed is also run through the console harness here, so a broken seed is noticed at once.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "protocol/frame.h"

using kalvor::fuzz::ConsoleHarness;
using kalvor::fuzz::OpWriter;
using kalvor::test::Bytes;
namespace k = kalvor;
namespace fs = std::filesystem;

namespace {

int Idx(int id) {
    static ConsoleHarness table(0);
    return table.IndexOf(id);
}

Bytes Response(uint8_t command, const Bytes& data) { return kalvor::test::ResponseFrame(command, data); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Seed {
    std::string name;
    Bytes bytes;
};

std::vector<Seed> ConsoleSeeds() {
    using namespace kalvor::fuzz;
    std::vector<Seed> s;
    auto add = [&](const std::string& name, const OpWriter& w) { s.push_back({name, w.Bytes()}); };

    // "STATUS": the frame 04 50 02 46 03 13, the module's answer in one burst and split up.
    add("status_answer", OpWriter(0).Click(Idx(1050)).Answer());
    add("status_burst", OpWriter(0).Click(Idx(1050)).Deliver(Concat({{k::ACK}, Response('F', {'0', 0, 0x41, 0x02})})));
    add("status_split", OpWriter(0)
                            .Click(Idx(1050))
                            .Deliver(Concat({{k::ACK}, Response('F', {'0', 0x41, 0x7F, 0x7F})}), 3)
                            .Click(Idx(1050))
                            .Answer(true, 1));
    add("status_two_frames_one_burst",
        OpWriter(kStartZeda2000)
            .Click(Idx(1050))
            .Deliver(Concat({{k::ACK}, Response('F', {'0', 0, 0x3F, 0x7F}), Response('F', {'0', 0x44, 0, 0})})));
    add("status_no_ack", OpWriter(0).Click(Idx(1050)).Advance(2000).Advance(2000).Advance(2000).Advance(2000).Advance(10));
    add("status_nak_replies", OpWriter(0).Click(Idx(1050)).Deliver({k::NAK}).Deliver({k::NAK}).Deliver({0x55}).Deliver({k::NAK}));
    {
        Bytes bad = Response('F', {'0', 0, 0, 0});
        bad.back() ^= 0x5A;
        add("status_bad_bcc_three_times",
            OpWriter(0).Click(Idx(1050)).Deliver({k::ACK}).Deliver(bad).Deliver(bad).Deliver(bad).Advance(1200));
        add("status_bad_bcc_then_good",
            OpWriter(0).Click(Idx(1050)).Deliver({k::ACK}).Deliver(bad).Advance(300).Deliver(Response('F', {'0', 0, 0, 0})));
    }
    add("status_cut_answer", OpWriter(0).Click(Idx(1050)).Deliver({k::ACK, k::SOH, 'P', k::STX, 'F', '0'}).Advance(160));
    add("status_no_answer", OpWriter(0).Click(Idx(1050)).Deliver({k::ACK}).Advance(122000).Click(Idx(1050)).Answer());
    add("box_open_while_bytes_arrive",
        OpWriter(0)
            .Click(Idx(1050))
            .Deliver({k::ACK})
            .BoxBytes(Response('F', {'0', 0, 0, 0}))
            .Advance(122000)
            .Click(Idx(1050))
            .Answer());
    {
        Bytes longFrame = {k::SOH, 'P', k::STX, 'q'};
        for (int i = 0; i < 130; ++i) longFrame.push_back(static_cast<uint8_t>(0x80 + i % 16));
        add("frame_without_etx_overflows", OpWriter(0).Click(Idx(1050)).Deliver({k::ACK}).Deliver(longFrame, 80).Advance(200));
        add("soh_inside_frame",
            OpWriter(0).Deliver({k::SOH, 'P', k::STX, 'F', '0', k::SOH, 0x9C, '<'}).Deliver(Response('F', {'0', 0, 0, 0})).Advance(200));
    }

    // "MENU": dispense runs (the frame 04 50 02 45 30 35 03 15 and the 'V' frame 10 / 20).
    add("dispense_upper_5", OpWriter(0)
                                .Tab(1)
                                .Click(Idx(1026))
                                .Type(Idx(1028), "5")
                                .Type(Idx(1030), "1")
                                .Click(Idx(1020))
                                .Answer()
                                .Advance(600));
    add("dispense_both_10_20_three_cycles", OpWriter(kStartZeda2000)
                                                .Tab(1)
                                                .Click(Idx(1026))
                                                .Click(Idx(1027))
                                                .Type(Idx(1028), "10")
                                                .Type(Idx(1029), "20")
                                                .Type(Idx(1030), "3")
                                                .Click(Idx(1068))
                                                .Click(Idx(1020))
                                                .Answer()
                                                .NextTimer()
                                                .Answer(true, 7)
                                                .NextTimer()
                                                .Answer(true, 1)
                                                .Advance(1000));
    add("dispense_lower_zeda2000", OpWriter(kStartZeda2000)
                                       .Tab(1)
                                       .Click(Idx(1027))
                                       .Type(Idx(1029), "60")
                                       .Type(Idx(1030), "2")
                                       .Click(Idx(1020))
                                       .Answer()
                                       .NextTimer()
                                       .Answer());
    add("dispense_error_in_cycle_2", OpWriter(0)
                                         .Tab(1)
                                         .Click(Idx(1026))
                                         .Type(Idx(1028), "5")
                                         .Type(Idx(1030), "5")
                                         .Click(Idx(1020))
                                         .Answer()
                                         .NextTimer()
                                         .Deliver({k::ACK})
                                         .Frame('P', 'E', {'0', '5', '0', '3', 0x41, '0', '0', '0'})
                                         .Advance(1000));
    add("dispense_refused_61", OpWriter(0).Tab(1).Click(Idx(1026)).Type(Idx(1028), "61").Click(Idx(1020)));
    add("dispense_refused_repeat", OpWriter(0).Tab(1).Click(Idx(1026)).Type(Idx(1030), "1000").Click(Idx(1020)));
    add("dispense_nothing_ticked", OpWriter(0).Tab(1).Click(Idx(1020)));
    add("dispense_cancel", OpWriter(kRecordResults)
                               .Tab(1)
                               .Click(Idx(1026))
                               .Type(Idx(1028), "2")
                               .Type(Idx(1030), "9")
                               .Click(Idx(1020))
                               .Answer()
                               .NextTimer()
                               .Click(Idx(1022))
                               .Answer()
                               .Advance(2000));
    add("dispense_reject_notices", OpWriter(kRecordResults)
                                       .Tab(1)
                                       .Click(Idx(1026))
                                       .Type(Idx(1028), "3")
                                       .Click(Idx(1020))
                                       .Deliver({k::ACK})
                                       .Deliver({k::SOH, 0x9C, '<'})
                                       .Deliver({k::SOH, 0x9C, '0'})
                                       .Deliver({k::SOH, 0x9C, '='})
                                       .Advance(200)
                                       .Frame('P', 'E', {'0', '3', '0', '3', '1', '0', '0', '3'}));
    add("dispense_purge_in_pause", OpWriter(0)
                                       .Tab(1)
                                       .Click(Idx(1026))
                                       .Type(Idx(1028), "1")
                                       .Type(Idx(1030), "3")
                                       .Click(Idx(1020))
                                       .Answer()
                                       .Click(Idx(1051))
                                       .NextTimer()
                                       .Answer()
                                       .Advance(3000));
    add("dispense_again_in_pause", OpWriter(kRecordResults)
                                       .Tab(1)
                                       .Click(Idx(1026))
                                       .Type(Idx(1028), "1")
                                       .Type(Idx(1030), "3")
                                       .Click(Idx(1020))
                                       .Answer()
                                       .Click(Idx(1020))
                                       .Answer()
                                       .NextTimer()
                                       .Answer());
    add("dispense_cycle_without_ack", OpWriter(kRecordResults)
                                          .Tab(1)
                                          .Click(Idx(1026))
                                          .Type(Idx(1030), "4")
                                          .Click(Idx(1020))
                                          .Answer()
                                          .NextTimer()
                                          .Advance(1000)
                                          .Advance(2000)
                                          .Advance(2000)
                                          .Advance(2000)
                                          .Advance(2000));
    add("dispense_zeda1000_lower_error",
        OpWriter(0).Tab(1).Click(Idx(1026)).Click(Idx(1020)).Deliver({k::ACK}).Frame('P', 'V', {'0', '0', '0', '0', '0', '0', '0', '0', 0x46, '0', '0', '0', '0', '0', '0'}));
    add("dispense_then_tp_unguarded", OpWriter(kRecordResults)
                                          .Tab(1)
                                          .Click(Idx(1026))
                                          .Type(Idx(1030), "2")
                                          .Click(Idx(1020))
                                          .Deliver({k::ACK})
                                          .Tab(3)
                                          .Click(Idx(1067))
                                          .Answer()
                                          .Advance(130000));

    // A cycle waits for its own answer past anything else that arrives, and ends when it can
    // no longer come (each of these once left a run that nothing could end).
    add("cycle_waits_past_unasked_frame", OpWriter(kRecordResults)
                                              .Tab(1)
                                              .Click(Idx(1026))
                                              .Click(Idx(1020))
                                              .Deliver({k::ACK})
                                              .Frame('P', 0x2D, {'0', '0'}, 1)
                                              .Answer(false)
                                              .Advance(1000));
    add("cycle_waits_past_bad_notice", OpWriter(kRecordResults)
                                           .Tab(1)
                                           .Click(Idx(1026))
                                           .Type(Idx(1028), "3")
                                           .Click(Idx(1020))
                                           .Deliver({k::ACK})
                                           .Deliver({k::SOH, 0x9C, 0xFF})
                                           .Deliver({k::STX, '6', k::ETX, 0x5E})
                                           .NextTimer()
                                           .Answer(false)
                                           .Advance(122000));
    add("cycle_waits_past_notice_timeout", OpWriter(kRecordResults)
                                               .Tab(1)
                                               .Click(Idx(1026))
                                               .Type(Idx(1028), "3")
                                               .Click(Idx(1020))
                                               .Deliver({k::ACK, k::SOH, 0x9C, '<'})
                                               .Advance(200)
                                               .Advance(122000));
    add("cycle_answer_cut_to_its_soh_after_a_notice", OpWriter(kRecordResults)
                                                          .Tab(1)
                                                          .Click(Idx(1026))
                                                          .Type(Idx(1028), "3")
                                                          .Click(Idx(1020))
                                                          .Deliver({k::ACK, k::SOH, 0x9C, '<'})
                                                          .Deliver({k::SOH})
                                                          .Advance(200)
                                                          .Click(Idx(1020))
                                                          .Answer());

    // "TP": every button on both cassettes, with the module's answers.
    {
        OpWriter w(kStartZeda2000);
        w.Tab(3);
        for (int radio : {1125, 1126}) {
            w.Click(Idx(radio));
            for (int id : {1054, 1055, 1056, 1057, 1058, 1059, 1060, 1066, 1067, 1069, 1123}) w.Click(Idx(id)).Answer();
        }
        add("tp_every_button_zeda2000", w);
        OpWriter v(0);
        v.Tab(3).Click(Idx(1126));
        for (int id : {1056, 1057, 1058, 1059, 1123}) v.Click(Idx(id)).Answer(true, 2);
        add("tp_lower_on_zeda1000", v);
    }

    // Answers nobody asked for: one per decoder, with short and long data.
    {
        OpWriter w(0);
        Bytes bits(80, '0');
        bits[3] = '1';
        w.Frame('P', 'D', {0x41})
            .Frame('P', 'D', {0x75})
            .Frame('P', 0x60, {0x69})
            .Frame('P', 'i', {'1'})
            .Frame('P', 'b', {'0', '9', '6', '0'})
            .Frame('P', 'g', {66, 66, 67, 65, 66, 66, '3', '?', '0', '1', '8', '0'})
            .Frame('P', 'k', {0x7F, 0x80, 0x81, 0x7E, 0x82, 0x80, 0x80, 0x80, 0x83, 0x7D})
            .Frame('P', 'p', {'0', '2', '0', '0', '0', '1', '?', '0'})
            .Frame('P', 'p', {'0'})
            .Frame('P', 'p', {})
            .Frame('P', 'q', {0x80, 0x81, 0x82, 0x83, 0x84, 0x7F, 0x7E, 0x7D, 0x7C, 0x80, 0x80, 0x80})
            .Frame('P', 'r', {'0', '5'})
            .Frame('P', 's', bits)
            .Frame('P', 't', {'1'})
            .Frame('P', 'G', {'2', '.', '0', '7', '1', ':', '?', '0'})
            .Frame('P', 0x81, {'1', '?', '0', '2', '0', '0', 66, 66, 0, '0', '0', '0', '0', '0', '0', 68, 68, 0})
            .Frame('P', 0x82, {'0', '1', 'F', '4'})
            .Frame('P', 0x82, {'1', '0', 'A', '5'})
            .Frame(0x9C, 'E', {'0', '1'})
            .Frame('P', 'Z', {})
            .Frame(0x33, 'F', {'0', 0, 0, 0});
        add("unasked_answers_every_decoder", w);
    }

    // "Set Environmant" and "Notes Init" on both models.
    for (uint8_t flags : {uint8_t(0), uint8_t(kStartZeda2000)}) {
        OpWriter w(flags);
        w.Tab(4)
            .Click(Idx(1099))
            .Answer()
            .Click(Idx(1100))
            .Answer()
            .Type(Idx(1082), "1f4")
            .Type(Idx(1095), "66")
            .Type(Idx(1096), "66")
            .Type(Idx(1110), "30")
            .Type(Idx(1111), "13")
            .Type(Idx(1115), "68")
            .Type(Idx(1116), "68")
            .Click(Idx(1098))
            .Answer()
            .Tab(5);
        for (int id : {1098, 1099, 1100, 1112}) w.Click(Idx(id)).Answer();
        add(flags ? "calibration_pages_zeda2000" : "calibration_pages_zeda1000", w);
    }
    add("calibration_average_0a5", OpWriter(0)
                                       .Tab(4)
                                       .Type(Idx(1082), "0a5")
                                       .Type(Idx(1095), "60")
                                       .Type(Idx(1096), "65")
                                       .Type(Idx(1083), "99")
                                       .Type(Idx(1084), "")
                                       .Click(Idx(1098)));

    // "SETUP": line settings, another port, a port that cannot be opened.
    add("setup_38400_even_com2", OpWriter(0)
                                     .Tab(2)
                                     .Click(Idx(1019))
                                     .Click(Idx(1013))
                                     .Click(Idx(1007))
                                     .Click(Idx(1020))
                                     .Tab(0)
                                     .Click(Idx(1050))
                                     .Answer());
    add("setup_port_fails", OpWriter(kPort1Fails).Tab(2).Click(Idx(1016)).Click(Idx(1014)).Click(Idx(1020)).Click(Idx(1006)).Click(Idx(1020)));
    add("no_channel_events", OpWriter(kNoEvents).Click(Idx(1050)).Tab(2).Click(Idx(1020)));
    add("remembered_port_2", OpWriter(kRememberedPort2).Click(Idx(1050)).Answer());

    // Models, tabs, text: switching back and forth, four pages only, long and non-ASCII text.
    add("models_and_tabs", OpWriter(0).Model(1).Tab(3).Tab(4).Tab(5).Model(0).Tab(0).Tab(2).Tab(1).Model(1).Tab(0));
    add("four_pages_only", OpWriter(kNoCalibrationTabs).Tab(3).Tab(5).Tab(1).Tab(2));
    add("long_and_odd_text", OpWriter(0)
                                 .Type(Idx(1003), std::string(4096, 'x'))
                                 .Type(Idx(1004), "\xff\xfe\r\n\x80")
                                 .Tab(1)
                                 .Type(Idx(1028), std::string(2048, '9'))
                                 .Type(Idx(1030), std::string("\0\0", 2))
                                 .Click(Idx(1026))
                                 .Click(Idx(1020))
                                 .Click(Idx(1050))
                                 .Answer());
    add("exit", OpWriter(0).Click(Idx(1050)).Click(Idx(1)).Deliver({k::ACK}).Advance(5000));
    return s;
}

// fuzz_parsers input: flags, then the thirteen texts, each as a length byte and its bytes
// (a length from 200 up: (length - 199) KiB of the one byte after it).
Bytes ParserInput(uint8_t flags, const std::vector<std::string>& texts) {
    Bytes b = {flags};
    for (const std::string& t : texts) {
        if (t.size() >= 200) {
            b.push_back(static_cast<uint8_t>(199 + std::min<size_t>(56, t.size() / 1024 ? t.size() / 1024 : 1)));
            b.push_back(static_cast<uint8_t>(t[0]));
        } else {
            b.push_back(static_cast<uint8_t>(t.size()));
            b.insert(b.end(), t.begin(), t.end());
        }
    }
    return b;
}

std::vector<Seed> ParserSeeds() {
    // average1 plus1 minus1 len1a len1b average2 plus2 minus2 len2a len2b upper lower repeat
    const std::vector<std::string> good = {"1f4", "30", "13", "66", "66", "1ea", "30", "13", "68", "68", "5", "7", "3"};
    enum { Z2 = 1, Up = 2, Lo = 4, Run = 8 };
    std::vector<Seed> s;
    auto add = [&](const std::string& name, uint8_t flags, std::vector<std::string> t) {
        s.push_back({name, ParserInput(flags, t)});
    };
    add("good_zeda1000_upper", Up | Run, good);
    add("good_zeda2000_both", Z2 | Up | Lo | Run, good);
    add("good_zeda2000_lower", Z2 | Lo | Run, good);
    auto with = [&](int field, const std::string& v) {
        auto t = good;
        t[static_cast<size_t>(field)] = v;
        return t;
    };
    add("average_0a5", Up, with(0, "0a5"));
    add("average_two_digits", Z2 | Up, with(0, "a5"));
    add("average_upper_case", Up, with(0, "FFF"));
    add("margin_empty", Up, with(1, ""));
    add("margin_three_digits", Z2 | Up, with(7, "100"));
    add("margin_99_99", Z2 | Up, with(2, "99"));
    add("length_one_digit", Z2 | Up, with(8, "6"));
    add("request_60", Up | Run, with(10, "60"));
    add("request_61", Up, with(10, "61"));
    add("request_123", Up, with(10, "123"));
    add("request_empty", Up | Run, with(10, ""));
    add("lower_three_chars", Z2 | Lo, with(11, "100"));
    add("repeat_empty", Up, with(12, ""));
    add("repeat_0", Up | Run, with(12, "0"));
    add("repeat_999", Up, with(12, "999"));
    add("repeat_1000", Up, with(12, "1000"));
    add("nothing_ticked", Z2, good);
    add("empty_texts", Z2 | Up | Lo | Run, std::vector<std::string>(13));
    add("long_texts", Z2 | Up | Lo, std::vector<std::string>(13, std::string(3000, '7')));
    add("non_ascii", Z2 | Up | Lo | Run,
        {"\xff\xfe\xfd", "\x80", "\xc3\xa9", "\xe2\x82", "\xac\x00", "", "\xff", "\xff\xff", "\x90\x91", "\x01\x03", ":?",
         "\x3c", "\xf9"});
    add("soh_etx_digits", Z2 | Up | Lo | Run, with(10, std::string("\x01\x03", 2)));
    return s;
}

bool WriteSeeds(const fs::path& dir, const std::vector<Seed>& seeds) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const Seed& seed : seeds)
        if (!kalvor::fuzz::WriteFile((dir / seed.name).string(), seed.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", (dir / seed.name).c_str());
            return false;
        }
    std::printf("%zu seeds in %s\n", seeds.size(), dir.c_str());
    return true;
}

// fuzz_script: byte 0 the start flags, then the script.
std::vector<Seed> ScriptSeeds() {
    using namespace kalvor::fuzz;
    std::vector<Seed> s;
    auto add = [&](const std::string& name, uint8_t flags, const std::string& script) {
        Bytes b{flags};
        b.insert(b.end(), script.begin(), script.end());
        s.push_back({name, b});
    };
    add("burn_in_by_names", kRecordResults,
        "tab MENU\ncheck UPPER\nset \"Upper Request Count\" 5\nset \"Repeat Count\" 3\nclick DISPENSE\n"
        "wait run 600000\nprint \"Total Dispense Count\"\nprint \"Executed Count\"\nquit\n");
    add("burn_in_by_ids_zeda2000", kStartZeda2000,
        "tab 1\ncheck 1026\ncheck 1027\nset 1028 2\nset 1029 3\nset 1030 4\nclick 1020\nwait run\n"
        "print 1031\nprint message\n");
    add("run_cancelled", 0,
        "tab MENU\ncheck UPPER\nset \"Upper Request Count\" 60\nset \"Repeat Count\" 9\nclick DISPENSE\n"
        "wait 3000\nclick Cancel\nwait idle\nprint status\n");
    add("status_and_names", 0, "click STATUS\nwait idle\nprint status\nprint names\nprint \"Upper Cassette\"\n");
    add("every_page_names", 0,
        "print names\ntab MENU\nprint names\ntab SETUP\nprint names\ntab TP\nprint names\n"
        "tab \"Set Environmant\"\nprint names\ntab \"Notes Init\"\nprint names\nprint visible\nprint disabled\n");
    add("setup_by_names", 0, "tab SETUP\nclick COM2\nclick \"9600\"\nclick 38400\ncheck Even\nclick OK\nwait idle\n");
    add("tp_by_names", kStartZeda2000,
        "tab TP\nclick LOWER\nclick DIVERT\nwait idle\nclick \"RVDT Value\"\nwait idle\nclick \"READ DIP\"\n"
        "wait idle 5000\nprint message\n");
    add("calibration_set_zeda2000", kStartZeda2000,
        "tab \"Set Environmant\"\nclick \"REQ AVERAGE\"\nwait idle\nclick \"REQ AVERAGE\"\nwait idle\n"
        "set 1082 500\nset 1095 38\nset 1096 62\nset 1110 25\nset 1111 10\nset 1115 41\nset 1116 66\n"
        "click Set\nwait idle\nclick \"REQ SEEPROM\"\nwait idle\nprint 1113\nprint 1114\n");
    add("calibration_margins_refused", kStartZeda2000,
        "tab 4\nset 1082 400\nset 1097 400\nset 1083 ??\nset 1095 38\nset 1096 62\nclick Set\nwait idle 0\n");
    add("notes_init", 0, "tab \"Notes Init\"\nclick \"TYPE 1\"\nwait idle\nclick \"TYPE 4\"\nwait idle\n");
    add("ambiguous_name", 0, "tab \"Set Environmant\"\nset \"+ Margin\" 5\n");
    add("waits_at_the_limits", 0, "wait 0\nwait 2147483647\nwait idle 0\nwait run 0\nwait 2147483648\n");
    add("wait_wraps", 0, "wait 9000000000000000\n");
    add("wait_int64_max", 0, "wait 9223372036854775807\n");
    add("id_wraps", 0, "click 4294968346\n");
    add("id_huge", 0, "print 99999999999999999999999999\n");
    add("negative_and_signed", 0, "wait -1\n");
    add("tab_out_of_range", kNoCalibrationTabs, "tab 4\n");
    add("quote_unclosed", 0, "tab \"MENU\n");
    add("quote_glued", 0, "tab \"MENU\"x\n");
    add("comments_and_blanks", 0, "# a comment\n\n   \ntab MENU # here\nset \"Repeat Count\" 5 # kept\nprint 1030\n");
    add("crlf_lines", 0, "tab MENU\r\nprint \"Repeat Count\"\r\n");
    static const char withNul[] = "tab MENU\nset 1030 a\0b\nprint 1030\ncl\0ick DISPENSE\n";
    add("nul_bytes", 0, std::string(withNul, sizeof withNul - 1));
    add("long_line", 0, "tab MENU\nset 1030 " + std::string(70000, '9') + "\nclick " + std::string(5000, 'A') + "\n");
    add("exit_then_more", 0, "click EXIT\nprint names\n");
    add("unknown_command", 0, "frobnicate 12\n");
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path root = argc > 1 ? fs::path(argv[1]) : fs::path(KALVOR_FUZZ_CORPUS_DIR);
    const auto console = ConsoleSeeds();
    // Every console seed runs clean through the harness before it is written.
    for (const Seed& seed : console) {
        std::fprintf(stderr, "seed %s\n", seed.name.c_str());
        kalvor::fuzz::Reader in(seed.bytes.data(), seed.bytes.size());
        ConsoleHarness h(in.U8());
        while (h.Step(in)) {
        }
    }
    if (!WriteSeeds(root / "fuzz_console", console)) return 1;
    if (!WriteSeeds(root / "fuzz_parsers", ParserSeeds())) return 1;
    if (!WriteSeeds(root / "fuzz_script", ScriptSeeds())) return 1;
    return 0;
}
