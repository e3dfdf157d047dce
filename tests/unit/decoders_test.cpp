// The dispatcher and every decoder, as the operator sees the answers: panes, boxes, checks and edits.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <tuple>

#include "protocol/error_codes.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

TEST(Decoders, PurgeReplyShowsTheErrorBoxBeforeItsResetLine) {
    TestConsole c;
    std::string statusInBox = "-";
    c.host.onBox = [&](const Box&) { statusInBox = c.Status(); };
    c.Receive('D', {'0'});
    EXPECT_TRUE(c.host.boxes.empty());
    EXPECT_EQ(c.Status(), "RESET\r\n");
    c.Receive('D', {0x3A});
    EXPECT_EQ(statusInBox, "RESET\r\n");  // the second "RESET" only after the box is closed
    EXPECT_EQ(c.Status(), "RESET\r\nRESET\r\n");

    // No error below 0x32 or from 0x80 on; 0x69-0x7F have no row and show a generic text.
    for (uint8_t code : {0x85, 0x31, 0x80, 0x32, 0x68, 0x70, 0x7F}) c.Receive('D', {code});
    EXPECT_EQ(c.Boxes(), (Strings{"ERROR CODE|Misnatch CRI to EJECT \n CODE[3A]", "ERROR CODE|Pickup Error\n CODE[32]",
                                  "ERROR CODE|Reserved \n CODE[68]", "ERROR CODE|Unknown Error \n CODE[70]",
                                  "ERROR CODE|Unknown Error \n CODE[7F]"}));
    std::string resets;
    for (int i = 0; i < 9; ++i) resets += "RESET\r\n";
    EXPECT_EQ(c.Status(), resets);
}

TEST(Decoders, DivertRepliesShowAnErrorOrTheRejectTrayWarning) {
    TestConsole c;
    const std::string message = c.Message();
    c.Receive(0x60, {'1'});
    EXPECT_TRUE(c.host.boxes.empty());
    c.Receive('i', {'1'});
    c.Receive('j', {0x50});
    c.Receive(0x60, {0x3A});
    c.Receive('i', {0x69});  // no row: the generic box, and no warning after it
    c.Receive('j', {0x80});  // no error code: the warning
    EXPECT_EQ(c.Boxes(), (Strings{"WORNING|Remove bills in Reject Tray", "ERROR CODE|CHECK->DIVERT TIMEOUT \n CODE[50]",
                                  "ERROR CODE|Misnatch CRI to EJECT \n CODE[3A]",
                                  "ERROR CODE|Unknown Error \n CODE[69]", "WORNING|Remove bills in Reject Tray"}));
    EXPECT_EQ(c.Message(), message);
    EXPECT_EQ(c.Status(), "");
}

TEST(Decoders, StatusReplyFollowsTheModelsColumnAndKeepsTheBoxesItDoesNotName) {
    // SEN0 bits 0-5, bit 6 ("Nearend" and "Empty"), SEN1 bits 0-2, then the ZEDA2000-only boxes.
    const auto checks = [](TestConsole& c) {
        return c.Checks({1036, 1037, 1038, 1039, 1040, 1041, 1049, 1072, 1045, 1047, 1118, 1042, 1043, 1046, 1048,
                         1073});
    };
    TestConsole c;
    for (int id : {1042, 1043, 1046, 1048, 1073}) c.Click(id);  // set by the operator
    c.Receive('F', {'X', 0x00, 0x3F, 0x07});
    EXPECT_EQ(c.Status(), "STATUS ERR : 00 SEN0 : 3F SEN1 : 07\r\n");
    EXPECT_EQ(checks(c), "111111" "00" "111" "11111");
    // Bit 7 of SEN0 is not read; the ERR byte opens no box.
    c.Receive('F', {'X', 0x47, 0xC0, 0xF8});
    EXPECT_EQ(c.Status(), "STATUS ERR : 00 SEN0 : 3F SEN1 : 07\r\nSTATUS ERR : 47 SEN0 : C0 SEN1 : F8\r\n");
    EXPECT_TRUE(c.host.boxes.empty());
    EXPECT_EQ(checks(c), "000000" "11" "000" "11111");
    c.Receive('F', {'0', 0x00, 0x41, 0x02});
    EXPECT_EQ(checks(c), "100000" "11" "010" "11111");

    // ZEDA2000 uses its own column.
    TestConsole d;
    d.Do("tab 1; click 1135; tab 0; click 1048; click 1073; click 1045");
    const std::initializer_list<int> ids = {1046, 1048, 1073, 1045, 1118, 1047, 1042, 1043};
    d.Receive('F', {'0', 0x00, 0x00, 0x04});
    EXPECT_EQ(d.Checks(ids), "10000000");  // bit 2: "Lower Cassette"
    d.Receive('F', {'0', 0x00, 0x00, 0x7B});
    EXPECT_EQ(d.Checks(ids), "01111111");
    d.Receive('F', {'0', 0x00, 0x00, 0x41});  // bit 6 is "Reject Tray" here; bit 0 is "SOL Sensor"
    EXPECT_EQ(d.Checks({1045, 1118, 1047}), "110");
}

TEST(Decoders, RomVersionReplyNamesTheModelByTheLowerRadio) {
    TestConsole c;
    c.Do("tab 3; click 1126");  // "LOWER"; the model stays ZEDA1000
    c.Receive('G', {'V', '1', '.', '2', '1', ':', '?', '0'});
    EXPECT_EQ(c.Message(), "ROM Ver = V1.2   Check Sum = 1AF0");
    EXPECT_EQ(c.Status(), "ZEDA2000");

    c.Do("click 1125; tab 1; click 1135");  // "UPPER" names ZEDA1000 even with the model ZEDA2000
    c.Receive('G', {'a', 'B', '?', '9', '9', '0', ';', '<'});
    EXPECT_EQ(c.Message(), "ROM Ver = aB?9   Check Sum = 90BC");
    EXPECT_EQ(c.Status(), "ZEDA1000");
}

TEST(Decoders, MotorSpeedBillLengthAndRvdtReplies) {
    const std::tuple<uint8_t, Bytes, std::string> cases[] = {  // in this order: the text each one appends
        {'b', {'0', '1', '2', '3'}, " 291 "},
        {'b', {'0', '0', '0', '?'}, " 15 "},
        {'b', {'?', '?', '?', '?'}, " 65535 "},
        {'g', {0x9C, 0x00, 'A', 0xFF, '1', 0x7F, '?', '?', '1', '2', ':', '?'},
         " 9C  00  41  FF  31  7F  RVDT -1  SUM 12AF \r\n"},
        {'h', {'0', '0', '0', '0', '0', '0', '8', '0', '0', '0', '0', '0'},
         " 30  30  30  30  30  30  RVDT -128  SUM 0000 \r\n"},
        {'g', {'0', '0', '0', '0', '0', '0', '0', '5', '?', '?', '?', '?'},
         " 30  30  30  30  30  30  RVDT 05  SUM FFFF \r\n"},
        {'g', {'0', '0', '0', '0', '0', '0', '7', '?', '0', '0', '1', '0'},
         " 30  30  30  30  30  30  RVDT 127  SUM 0010 \r\n"},
        {'k', {0x80, 0x85, 0x7B, 0x7F, 0x81, 0x00, 0xFF, 0x02, 0x70, 0x90},
         " 00  -5  05  01  -1  -128  -127  126  16  -16 \r\n"},
        {'l', Bytes(10, 0x80), " 00  00  00  00  00  00  00  00  00  00 \r\n"},
        // RVDT range and values: as many as the frame's length holds.
        {'p', {}, "Len  06 \r\n\r\n"},
        {'p', {'0', '1', '2', '3', ':', ';', '<', '='}, "Len  14 \r\n0123 ABCD \r\n"},
        {'p', {'1', '2', '3'}, "Len  09 \r\n1233 \r\n"},  // the last group completed by the ETX
        {'q', {0x00, 200, 0x9C}, "Len  09 \r\n0 200 156 \r\n"},
        {'q', {}, "Len  06 \r\n\r\n"},
    };
    TestConsole c;
    for (const auto& [command, data, text] : cases) {
        const std::string before = c.Message();
        c.Receive(command, data);
        EXPECT_EQ(c.Message(), before + text) << command;
    }
}

TEST(Decoders, DipBitRamTestClutchAndUnknownReplies) {
    TestConsole c;
    const std::string m = c.Message();
    c.Receive('r', {'?', '5'});
    EXPECT_EQ(c.Status(), "\r\n");
    EXPECT_EQ(c.Message(), m + " DIP = f5");  // on the Message pane's last line
    c.Receive('r', {'0', '9'});
    EXPECT_EQ(c.Status(), "\r\n\r\n");
    EXPECT_EQ(c.Message(), m + " DIP = f5 DIP = 09");

    c.Receive('s', Bytes(80, '1'));
    EXPECT_EQ(c.Message(), std::string(80, '1'));
    Bytes mixed;
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        mixed.insert(mixed.end(), {'1', '0', '2', 0x00});
        expected += "1000";
    }
    c.Receive('s', mixed);
    EXPECT_EQ(c.Message(), expected);

    for (auto [answer, text] : {std::pair<uint8_t, const char*>{'1', "RAM Error"}, {'0', "RAM OK"}, {'x', "RAM OK"}}) {
        c.Receive('t', {answer});
        EXPECT_EQ(c.Message(), text);
    }

    // The clutch answers show nothing; unknown and undecoded command bytes show "Default".
    const std::string shown = c.Message();
    c.Receive('m', {'1'});
    c.Receive('n', {'1'});
    EXPECT_EQ(c.Message(), shown);
    for (int code : {0x75, 0x76, 0x77, 0x41, 0xFF}) {  // 'u', 'v', 'w', 'A', 0xFF
        c.controls().UserSetText(1003, "typed");
        c.Receive(static_cast<uint8_t>(code), {'1'});
        EXPECT_EQ(c.Message(), "Default") << code;
    }
    EXPECT_EQ(c.Status(), "\r\n\r\n");
    EXPECT_TRUE(c.host.boxes.empty());
}

TEST(Decoders, SeepromRepliesFillBothBlocksAndTheAverageGoesToTheBlockItNames) {
    TestConsole c({.calibrationTabs = true});
    c.Tab(4);
    const std::initializer_list<int> ids = {1085, 1086, 1095, 1096, 1113, 1114, 1115, 1116, 1082, 1083, 1084};
    for (int id : {1085, 1086, 1095, 1096, 1113, 1114, 1115, 1116, 1082, 1097})
        EXPECT_TRUE(c.controls().IsVisible(id)) << id;
    c.Do("set 1085 zzz; set 1082 123");
    c.Receive(0x80, {'7', '?', '0', '2', '8', '0', 0x29, 0x42, '0', ';', '1', '2', '3', '4', '5', 60, 200, 0x00});
    // The average and the margins are not written here.
    EXPECT_EQ(c.Texts(ids), (Strings{"7F0", "280", "41", "66", "B12", "345", "60", "200", "123", "30", "13"}));
    c.Receive(0x81, {':', ';', '<', '=', '>', '?', 0x00, 255, 'x', '0', '0', '9', '9', '0', '0', 7, 99, 'y'});
    EXPECT_EQ(c.Texts(ids), (Strings{"ABC", "DEF", "0", "255", "009", "900", "7", "99", "123", "30", "13"}));

    c.Do("set 1082 aaa; set 1097 bbb");
    c.Receive(0x82, {'1', ':', '?', '0'});
    EXPECT_EQ(c.Texts({1082, 1097}), (Strings{"aaa", "af0"}));
    c.Receive(0x82, {'0', '0', '1', '2'});
    EXPECT_EQ(c.controls().Text(1082), "12");
    c.Receive(0x82, {'0', '?', '?', '?'});
    EXPECT_EQ(c.controls().Text(1082), "fff");
    c.Receive(0x82, {'2', '1', '1', '1'});
    EXPECT_EQ(c.Texts({1082, 1097}), (Strings{"fff", "af0"}));
}

TEST(Decoders, RawFramesAreShownAndMarkRejectReasons) {
    TestConsole c;
    std::string m = c.Message();
    const auto marks = [&c] { return c.Checks({1119, 1120, 1121}); };
    // Each SOH inside a frame hands the bytes before it over raw.
    c.host.Deliver({SOH, 0x9C, 0x3C, SOH});
    EXPECT_EQ(c.Message(), m + " 01 9c 3c\r\n");
    EXPECT_EQ(marks(), "100");  // "Double"
    c.host.Deliver({0x9C, 0x33, SOH});
    EXPECT_EQ(marks(), "101");  // "Length"
    c.host.Deliver({0x9C, 0x3E, SOH});
    EXPECT_EQ(marks(), "111");  // "Nearing"
    EXPECT_EQ(c.Message(), m + " 01 9c 3c\r\n 01 9c 33\r\n 01 9c 3e\r\n");

    // Marks are only set, never cleared, by raw frames.
    c.host.Deliver({0x9C, 0x31, SOH});
    EXPECT_EQ(marks(), "111");
    for (int id : {1119, 1120, 1121}) c.Click(id);
    ASSERT_EQ(marks(), "000");
    const std::pair<Bytes, const char*> steps[] = {
        {{0x9C, 0x31, 0x32, SOH}, "000"}, {{0x9C, '0', SOH}, "001"}, {{0x9C, '=', SOH}, "011"},
        {{'P', '<', SOH}, "011"}};  // the last is not a 0x9C frame
    for (const auto& [bytes, expected] : steps) {
        c.host.Deliver(bytes);
        EXPECT_EQ(marks(), expected) << Hex(bytes);
    }

    // Fewer than three bytes: shown, but bytes 1 and 2 are not looked at. The frame timer's
    // hand-over leaves 01 9C 3C in the raw frame; a one- and a two-byte frame follow it.
    for (int id : {1120, 1121}) c.Click(id);
    c.host.Deliver({0x9C, 0x3C});
    c.host.Advance(kFrameWaitMs);
    ASSERT_EQ(marks(), "100");
    c.Click(1119);
    m = c.Message();
    c.host.Deliver({SOH, SOH, 0x9C, SOH});
    EXPECT_EQ(c.Message(), m + " 01\r\n 01 9c\r\n");
    EXPECT_EQ(marks(), "000");

    m = c.Message();
    c.dlg->OnPosted(kWmFrameRaw, 0);  // an empty hand-over shows only a line break
    EXPECT_EQ(c.Message(), m + "\r\n");
}

TEST(Decoders, ErrorCodeTableTexts) {
    EXPECT_EQ(std::size(ErrorCodeTable), 55u);
    EXPECT_EQ(kErrorCodeCount, 55);
    EXPECT_STREQ(ErrorCodeTable[0], "Pickup Error\n CODE[32]");
    EXPECT_EQ(ErrorCodeText(0x38), "BILL End UPPER \n Code[38]");
    EXPECT_EQ(ErrorCodeText(0x4A), "DIVERTER or DIVERTIING Sensor ERROR \n CODE[4A]");
    EXPECT_EQ(ErrorCodeText(0x4D), "reserved \n CODE[4D]");
    EXPECT_EQ(ErrorCodeText(0x5C), "DIFFERENCE EJECT to EXIT COUNT \n CODE[5C]");
    EXPECT_STREQ(ErrorCodeTable[54], "Reserved \n CODE[68]");
    EXPECT_EQ(ErrorCodeText(0x69), "Unknown Error \n CODE[69]");

    // Every row carries its own code on its second line, so no row is shifted.
    for (int code = kFirstErrorCode; code <= kLastErrorCode; ++code) {
        const std::string text = ErrorCodeText(static_cast<uint8_t>(code));
        char tail[16];
        std::snprintf(tail, sizeof tail, "[%02X]", code);
        const size_t lf = text.find('\n');
        ASSERT_NE(lf, std::string::npos) << code;
        EXPECT_EQ(text.substr(lf), std::string(code == 0x38 ? "\n Code" : "\n CODE") + tail) << text;
        EXPECT_EQ(text[lf - 1] == ' ', code != 0x32) << text;  // only the first has no blank
    }
}
