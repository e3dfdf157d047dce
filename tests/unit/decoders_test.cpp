// The dispatcher and every decoder: each answer delivered as bytes through the test host, and
// what the operator then sees in the panes, check boxes, edit boxes and boxes, text for text.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/error_codes.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

void Receive(TestConsole& c, uint8_t command, const Bytes& data, uint8_t id = 'P') {
    c.host.Deliver(ResponseFrame(command, data, id));
}

std::vector<std::string> BoxTexts(const TestConsole& c) {
    std::vector<std::string> out;
    for (const Box& b : c.host.boxes) out.push_back(b.caption + "|" + b.text);
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(Decoders, PurgeReplyShowsTheErrorBoxBeforeItsResetLine) {
    TestConsole c;
    std::string statusInBox = "-";
    c.host.onBox = [&](const Box&) { statusInBox = c.Status(); };

    Receive(c, 'D', {'0'});
    EXPECT_TRUE(c.host.boxes.empty());
    EXPECT_EQ(c.Status(), "RESET\r\n");

    Receive(c, 'D', {0x3A});
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "Misnatch CRI to EJECT \n CODE[3A]");
    EXPECT_EQ(c.host.boxes[0].caption, "ERROR CODE");
    EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(statusInBox, "RESET\r\n");  // the second "RESET" only after the box is closed
    EXPECT_EQ(c.Status(), "RESET\r\nRESET\r\n");

    // No error below 0x32 or from 0x80 on; 0x69-0x7F have no row and show a generic text.
    for (uint8_t code : {0x85, 0x31, 0x80, 0x32, 0x68, 0x70, 0x7F}) Receive(c, 'D', {code});
    EXPECT_EQ(BoxTexts(c), (Strings{"ERROR CODE|Misnatch CRI to EJECT \n CODE[3A]",
                                    "ERROR CODE|Pickup Error\n CODE[32]", "ERROR CODE|Reserved \n CODE[68]",
                                    "ERROR CODE|Unknown Error \n CODE[70]",
                                    "ERROR CODE|Unknown Error \n CODE[7F]"}));
    std::string resets;
    for (int i = 0; i < 9; ++i) resets += "RESET\r\n";
    EXPECT_EQ(c.Status(), resets);
}

TEST(Decoders, DivertRepliesShowAnErrorOrTheRejectTrayWarning) {
    TestConsole c;
    const std::string message = c.Message();
    Receive(c, 0x60, {'1'});
    EXPECT_TRUE(c.host.boxes.empty());
    Receive(c, 'i', {'1'});
    Receive(c, 'j', {0x50});
    Receive(c, 0x60, {0x3A});
    Receive(c, 'i', {0x69});  // no row: the generic box, and no warning after it
    Receive(c, 'j', {0x80});  // no error code: the warning
    EXPECT_EQ(BoxTexts(c), (Strings{"WORNING|Remove bills in Reject Tray",
                                    "ERROR CODE|CHECK->DIVERT TIMEOUT \n CODE[50]",
                                    "ERROR CODE|Misnatch CRI to EJECT \n CODE[3A]",
                                    "ERROR CODE|Unknown Error \n CODE[69]",
                                    "WORNING|Remove bills in Reject Tray"}));
    for (const Box& b : c.host.boxes) EXPECT_EQ(b.icon, BoxIcon::Stop);
    EXPECT_EQ(c.Message(), message);
    EXPECT_EQ(c.Status(), "");
}

TEST(Decoders, StatusReplyWithModel1000KeepsTheBoxesItsColumnDoesNotName) {
    TestConsole c;
    // The operator's clicks set boxes that only the ZEDA2000 column names.
    for (int id : {1042, 1043, 1046, 1048, 1073}) c.Click(id);

    Receive(c, 'F', {'X', 0x00, 0x3F, 0x07});
    EXPECT_EQ(c.Status(), "STATUS ERR : 00 SEN0 : 3F SEN1 : 07\r\n");
    for (int id : {1036, 1037, 1038, 1039, 1040, 1041}) EXPECT_EQ(c.controls().Checked(id), 1) << id;
    for (int id : {1049, 1072}) EXPECT_EQ(c.controls().Checked(id), 0) << id;
    for (int id : {1045, 1047, 1118}) EXPECT_EQ(c.controls().Checked(id), 1) << id;
    for (int id : {1042, 1043, 1046, 1048, 1073}) EXPECT_EQ(c.controls().Checked(id), 1) << id;

    // Bit 6 of SEN0 sets both "Nearend" and "Empty"; bit 7 is not read; the ERR byte opens no box.
    Receive(c, 'F', {'X', 0x47, 0xC0, 0xF8});
    EXPECT_EQ(c.Status(), "STATUS ERR : 00 SEN0 : 3F SEN1 : 07\r\nSTATUS ERR : 47 SEN0 : C0 SEN1 : F8\r\n");
    EXPECT_TRUE(c.host.boxes.empty());
    for (int id : {1036, 1037, 1038, 1039, 1040, 1041}) EXPECT_EQ(c.controls().Checked(id), 0) << id;
    for (int id : {1049, 1072}) EXPECT_EQ(c.controls().Checked(id), 1) << id;
    for (int id : {1045, 1047, 1118}) EXPECT_EQ(c.controls().Checked(id), 0) << id;
    for (int id : {1042, 1043, 1046, 1048, 1073}) EXPECT_EQ(c.controls().Checked(id), 1) << id;
}

TEST(Decoders, StatusReplyWithModel2000UsesItsOwnColumn) {
    TestConsole c;
    c.Tab(1);
    c.Click(1135);
    c.Tab(0);
    for (int id : {1048, 1073, 1045}) c.Click(id);

    Receive(c, 'F', {'0', 0x00, 0x00, 0x04});
    EXPECT_EQ(c.controls().Checked(1046), 1);  // "Lower Cassette"
    for (int id : {1048, 1073, 1045, 1118, 1047, 1042, 1043}) EXPECT_EQ(c.controls().Checked(id), 0) << id;

    Receive(c, 'F', {'0', 0x00, 0x00, 0x7B});
    for (int id : {1118, 1047, 1042, 1043, 1048, 1073, 1045}) EXPECT_EQ(c.controls().Checked(id), 1) << id;
    EXPECT_EQ(c.controls().Checked(1046), 0);

    // Bit 6 is "Reject Tray" here; bit 0 is "SOL Sensor".
    Receive(c, 'F', {'0', 0x00, 0x00, 0x41});
    EXPECT_EQ(c.controls().Checked(1045), 1);
    EXPECT_EQ(c.controls().Checked(1118), 1);
    EXPECT_EQ(c.controls().Checked(1047), 0);
}

TEST(Decoders, RomVersionReplyNamesTheModelByTheLowerRadio) {
    TestConsole c;
    c.Tab(3);
    c.Click(1126);  // "LOWER"; the model stays ZEDA1000
    Receive(c, 'G', {'V', '1', '.', '2', '1', ':', '?', '0'});
    EXPECT_EQ(c.Message(), "ROM Ver = V1.2   Check Sum = 1AF0");
    EXPECT_EQ(c.Status(), "ZEDA2000");

    // With "UPPER" the name is ZEDA1000 even with the model ZEDA2000 chosen.
    c.Click(1125);
    c.Tab(1);
    c.Click(1135);
    Receive(c, 'G', {'a', 'B', '?', '9', '9', '0', ';', '<'});
    EXPECT_EQ(c.Message(), "ROM Ver = aB?9   Check Sum = 90BC");
    EXPECT_EQ(c.Status(), "ZEDA1000");
}

TEST(Decoders, MotorSpeedBillLengthAndRvdtValues) {
    TestConsole c;
    std::string m = c.Message();
    Receive(c, 'b', {'0', '1', '2', '3'});
    EXPECT_EQ(c.Message(), m + " 291 ");
    Receive(c, 'b', {'0', '0', '0', '?'});
    Receive(c, 'b', {'?', '?', '?', '?'});
    EXPECT_EQ(c.Message(), m + " 291  15  65535 ");

    m = c.Message();
    Receive(c, 'g', {0x9C, 0x00, 'A', 0xFF, '1', 0x7F, '?', '?', '1', '2', ':', '?'});
    EXPECT_EQ(c.Message(), m + " 9C  00  41  FF  31  7F  RVDT -1  SUM 12AF \r\n");
    m = c.Message();
    Receive(c, 'h', {'0', '0', '0', '0', '0', '0', '8', '0', '0', '0', '0', '0'});
    Receive(c, 'g', {'0', '0', '0', '0', '0', '0', '0', '5', '?', '?', '?', '?'});
    Receive(c, 'g', {'0', '0', '0', '0', '0', '0', '7', '?', '0', '0', '1', '0'});
    EXPECT_EQ(c.Message(), m + " 30  30  30  30  30  30  RVDT -128  SUM 0000 \r\n"
                               " 30  30  30  30  30  30  RVDT 05  SUM FFFF \r\n"
                               " 30  30  30  30  30  30  RVDT 127  SUM 0010 \r\n");

    m = c.Message();
    Receive(c, 'k', {0x80, 0x85, 0x7B, 0x7F, 0x81, 0x00, 0xFF, 0x02, 0x70, 0x90});
    EXPECT_EQ(c.Message(), m + " 00  -5  05  01  -1  -128  -127  126  16  -16 \r\n");
    m = c.Message();
    Receive(c, 'l', {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
    EXPECT_EQ(c.Message(), m + " 00  00  00  00  00  00  00  00  00  00 \r\n");
}

TEST(Decoders, RvdtRangeAndValueRepliesUseTheFrameLength) {
    TestConsole c;
    std::string m = c.Message();
    Receive(c, 'p', {});
    EXPECT_EQ(c.Message(), m + "Len  06 \r\n\r\n");
    m = c.Message();
    Receive(c, 'p', {'0', '1', '2', '3', ':', ';', '<', '='});
    EXPECT_EQ(c.Message(), m + "Len  14 \r\n0123 ABCD \r\n");
    // Three data bytes: one more group, completed by the ETX that follows them.
    m = c.Message();
    Receive(c, 'p', {'1', '2', '3'});
    EXPECT_EQ(c.Message(), m + "Len  09 \r\n1233 \r\n");

    m = c.Message();
    Receive(c, 'q', {0x00, 200, 0x9C});
    EXPECT_EQ(c.Message(), m + "Len  09 \r\n0 200 156 \r\n");
    m = c.Message();
    Receive(c, 'q', {});
    EXPECT_EQ(c.Message(), m + "Len  06 \r\n\r\n");
}

TEST(Decoders, DipBitAndRamTestReplies) {
    TestConsole c;
    const std::string m = c.Message();
    Receive(c, 'r', {'?', '5'});
    EXPECT_EQ(c.Status(), "\r\n");
    EXPECT_EQ(c.Message(), m + " DIP = f5");  // on the Message pane's last line
    Receive(c, 'r', {'0', '9'});
    EXPECT_EQ(c.Status(), "\r\n\r\n");
    EXPECT_EQ(c.Message(), m + " DIP = f5 DIP = 09");

    Receive(c, 's', Bytes(80, '1'));
    EXPECT_EQ(c.Message(), std::string(80, '1'));
    Bytes mixed;
    for (int i = 0; i < 20; ++i) mixed.insert(mixed.end(), {'1', '0', '2', 0x00});
    Receive(c, 's', mixed);
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += "1000";
    EXPECT_EQ(c.Message(), expected);

    Receive(c, 't', {'1'});
    EXPECT_EQ(c.Message(), "RAM Error");
    Receive(c, 't', {'0'});
    EXPECT_EQ(c.Message(), "RAM OK");
    Receive(c, 't', {'x'});
    EXPECT_EQ(c.Message(), "RAM OK");
}

TEST(Decoders, UnknownAndUndecodedCommandBytes) {
    TestConsole c;
    const std::string m = c.Message();
    const std::string s = c.Status();
    Receive(c, 'm', {'1'});
    Receive(c, 'n', {'1'});
    EXPECT_EQ(c.Message(), m);  // the clutch answers show nothing
    EXPECT_EQ(c.Status(), s);
    for (int code : {0x75, 0x76, 0x77, 0x41, 0xFF}) {  // 'u', 'v', 'w', 'A', 0xFF
        c.controls().UserSetText(1003, "typed");
        Receive(c, static_cast<uint8_t>(code), {'1'});
        EXPECT_EQ(c.Message(), "Default") << code;
    }
    EXPECT_EQ(c.Status(), s);
    EXPECT_TRUE(c.host.boxes.empty());
}

TEST(Decoders, SeepromRepliesFillBothBlocks) {
    TestConsole c({.calibrationTabs = true});
    c.Tab(4);
    for (int id : {1085, 1086, 1095, 1096, 1113, 1114, 1115, 1116, 1082, 1097})
        EXPECT_TRUE(c.controls().IsVisible(id)) << id;
    c.Type(1085, "zzz");
    c.Type(1082, "123");
    Receive(c, 0x80, {'7', '?', '0', '2', '8', '0', 0x29, 0x42, '0',
                      ';', '1', '2', '3', '4', '5', 60, 200, 0x00});
    EXPECT_EQ(c.controls().Text(1085), "7F0");
    EXPECT_EQ(c.controls().Text(1086), "280");
    EXPECT_EQ(c.controls().Text(1095), "41");
    EXPECT_EQ(c.controls().Text(1096), "66");
    EXPECT_EQ(c.controls().Text(1113), "B12");
    EXPECT_EQ(c.controls().Text(1114), "345");
    EXPECT_EQ(c.controls().Text(1115), "60");
    EXPECT_EQ(c.controls().Text(1116), "200");
    EXPECT_EQ(c.controls().Text(1082), "123");  // the average and margins are not written here
    EXPECT_EQ(c.controls().Text(1083), "30");
    EXPECT_EQ(c.controls().Text(1084), "13");

    Receive(c, 0x81, {':', ';', '<', '=', '>', '?', 0x00, 255, 'x',
                      '0', '0', '9', '9', '0', '0', 7, 99, 'y'});
    EXPECT_EQ(c.controls().Text(1085), "ABC");
    EXPECT_EQ(c.controls().Text(1086), "DEF");
    EXPECT_EQ(c.controls().Text(1095), "0");
    EXPECT_EQ(c.controls().Text(1096), "255");
    EXPECT_EQ(c.controls().Text(1113), "009");
    EXPECT_EQ(c.controls().Text(1114), "900");
    EXPECT_EQ(c.controls().Text(1115), "7");
    EXPECT_EQ(c.controls().Text(1116), "99");
}

TEST(Decoders, AverageReplyGoesToTheBlockItNames) {
    TestConsole c({.calibrationTabs = true});
    c.Tab(4);
    c.Type(1082, "aaa");
    c.Type(1097, "bbb");
    Receive(c, 0x82, {'1', ':', '?', '0'});
    EXPECT_EQ(c.controls().Text(1097), "af0");
    EXPECT_EQ(c.controls().Text(1082), "aaa");
    Receive(c, 0x82, {'0', '0', '1', '2'});
    EXPECT_EQ(c.controls().Text(1082), "12");
    Receive(c, 0x82, {'0', '?', '?', '?'});
    EXPECT_EQ(c.controls().Text(1082), "fff");
    Receive(c, 0x82, {'2', '1', '1', '1'});
    EXPECT_EQ(c.controls().Text(1082), "fff");
    EXPECT_EQ(c.controls().Text(1097), "af0");
}

TEST(Decoders, NoticesByIdOrCommandByte) {
    TestConsole c;
    std::string m = c.Message();
    Receive(c, 'F', {'X', 0x00, 0x41, 0x02}, cmd::Notice);
    EXPECT_EQ(c.Status(), "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n");
    EXPECT_EQ(c.Message(), m + "\r\n 9c 02 46 58");

    m = c.Message();
    Receive(c, cmd::Notice, {'1'}, cmd::Notice);
    EXPECT_EQ(c.Message(), m + "\r\n 9c 02 9c 31\r\n 9c 02 9c 31");

    m = c.Message();
    Receive(c, cmd::Notice, {0xAB});
    EXPECT_EQ(c.Message(), m + "\r\n 50 02 9c ab");

    // A notice ID after a decoder that replaces the pane: the notice line follows "Default".
    Receive(c, 'u', {'1'}, cmd::Notice);
    EXPECT_EQ(c.Message(), "Default\r\n 9c 02 75 31");
}

TEST(Decoders, RawFramesAreShownAndMarkRejectReasons) {
    TestConsole c;
    std::string m = c.Message();
    auto marks = [&c] {
        return std::to_string(c.controls().Checked(1119)) + std::to_string(c.controls().Checked(1120)) +
               std::to_string(c.controls().Checked(1121));
    };
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
    c.host.Deliver({0x9C, 0x31, 0x32, SOH});
    EXPECT_EQ(marks(), "000");
    c.host.Deliver({0x9C, '0', SOH});
    EXPECT_EQ(marks(), "001");
    c.host.Deliver({0x9C, '=', SOH});
    EXPECT_EQ(marks(), "011");
    c.host.Deliver({'P', '<', SOH});  // not a 0x9C frame
    EXPECT_EQ(marks(), "011");

    // Fewer than three bytes: shown, but bytes 1 and 2 are not looked at. The frame timer's hand-
    // over leaves 01 9C 3C in the raw frame; a one- and a two-byte frame follow it.
    for (int id : {1120, 1121}) c.Click(id);
    c.host.Deliver({0x9C, 0x3C});
    c.host.Advance(kFrameWaitMs);
    ASSERT_EQ(marks(), "100");
    c.Click(1119);
    m = c.Message();
    c.host.Deliver({SOH, SOH, 0x9C, SOH});
    EXPECT_EQ(c.Message(), m + " 01\r\n 01 9c\r\n");
    EXPECT_EQ(marks(), "000");

    // An empty hand-over shows only a line break.
    m = c.Message();
    c.dlg->OnPosted(kWmFrameRaw, 0);
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
