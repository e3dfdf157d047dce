// The bench file: what a line may hold, and the FILE:LINE: reason of a bad one.
#include <gtest/gtest.h>

#include <sstream>

#include "bench/bench_file.h"

using kalvor::bench::BenchModule;
using kalvor::bench::ParseBenchFile;

TEST(BenchFile, ModulesAndBadLines) {
    const struct {
        const char* text;
        const char* error;     // "" when the file is good
        const char* modules;   // NAME PATH model baud parity line, one per module, for a good file
    } cases[] = {
        {"# station 3\n\nm1 /dev/serial/by-id/usb-FTDI_A-if00-port0 model=2000 baud=19200 parity=even # left\n"
         "m-2_b /dev/ttyUSB1\n",
         "", "m1 /dev/serial/by-id/usb-FTDI_A-if00-port0 2000 19200 even 3|m-2_b /dev/ttyUSB1    4|"},
        {"a /dev/ttyS0 parity=odd model=1000\n", "", "a /dev/ttyS0 1000  odd 1|"},
        {"a /dev/a\nb/c /dev/b\n", "bench.txt:2: the name 'b/c' may hold only letters, digits, '-' and '_' (at most 64)", ""},
        {"a /dev/a\n a /dev/b\n", "bench.txt:2: the name 'a' is given twice", ""},
        {"a\n", "bench.txt:1: 'a' needs the path of its serial device", ""},
        {"a model=2000\n", "bench.txt:1: 'a' needs the path of its serial device before 'model=2000'", ""},
        {"a /dev/a\nb /dev/a\n", "bench.txt:2: '/dev/a' is the port of 'a' already", ""},
        {"a /dev/a baud=115200\n", "bench.txt:1: baud takes 4800, 9600, 19200 or 38400, not '115200'", ""},
        {"a /dev/a model=3000\n", "bench.txt:1: model takes 1000 or 2000, not '3000'", ""},
        {"a /dev/a parity=mark\n", "bench.txt:1: parity takes none, even or odd, not 'mark'", ""},
        {"a /dev/a speed=9600\n", "bench.txt:1: unknown setting 'speed' (model=, baud= or parity=)", ""},
        {"a /dev/a baud=9600 baud=4800\n", "bench.txt:1: baud given twice", ""},
        {"a /dev/my port\n",
         "bench.txt:1: 'port' is not a setting (model=, baud= or parity=): a path with blanks is not supported", ""},
        {"# nothing\n", "bench.txt: no module in it (a line is: NAME PATH [model=M] [baud=N] [parity=P])", ""},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.text);
        std::vector<BenchModule> modules;
        EXPECT_EQ(ParseBenchFile(in, "bench.txt", modules), c.error) << c.text;
        if (*c.error) continue;
        std::string got;
        for (const BenchModule& m : modules)
            got += m.name + " " + m.path + " " + m.model + " " + m.baud + " " + m.parity + " " + std::to_string(m.line) + "|";
        EXPECT_EQ(got, c.modules) << c.text;
    }
}
