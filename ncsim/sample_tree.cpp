// The storage a fresh simulator serves when no folder is given.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "ncsim/simulator.h"

namespace ncsim {
namespace {

bool WriteFile(const std::string &path, const std::string &data) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

bool MakeDir(const std::string &path) {
    std::error_code error;
    std::filesystem::create_directory(path, error);
    if (error) errno = error.value();
    return !error;
}

// "（主程序）" (main program) in the GBK code page, as the controller stores it.
const std::string kGbkMainProgram = "\xA3\xA8\xD6\xF7\xB3\xCC\xD0\xF2\xA3\xA9";

std::string MainProgram() {
    return "%\r\nO0001" + kGbkMainProgram +
           "\r\n"
           "G21 G90 G94\r\n"
           "T01 M06\r\n"
           "S1200 M03\r\n"
           "G00 X0 Y0 Z5.0\r\n"
           "G01 Z-1.0 F100\r\n"
           "G01 X50.0 F300\r\n"
           "G01 Y50.0\r\n"
           "G01 X0\r\n"
           "G01 Y0\r\n"
           "G00 Z5.0\r\n"
           "M05\r\n"
           "M30\r\n"
           "%\r\n";
}

// Long enough to take several blocks, so reading it shows the block loop.
std::string LongProgram() {
    std::string text = "%\r\nO0002(POCKET)\r\nG21 G90\r\nT02 M06\r\nS2400 M03\r\nG00 X0 Y0 Z5.0\r\n";
    for (int pass = 1; pass <= 60; ++pass) {
        char line[96];
        std::snprintf(line, sizeof line, "N%04d G01 Z-%d.%d F80\r\nG01 X%d.0 Y%d.0 F400\r\n", pass * 10, pass / 10,
                      pass % 10, 10 + pass % 30, 5 + pass % 20);
        text += line;
    }
    return text + "G00 Z5.0\r\nM05\r\nM30\r\n%\r\n";
}

std::string RomImage() {
    std::string rom(1536, '\0');
    for (size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return rom;
}

}  // namespace

bool WriteSampleTree(const std::string &folder) {
    return MakeDir(folder + "/QVT") && MakeDir(folder + "/PRG") && MakeDir(folder + "/DATA") &&
           WriteFile(folder + "/QVT/QVTROM.BIN", RomImage()) && WriteFile(folder + "/PRG/O0001.CNC", MainProgram()) &&
           WriteFile(folder + "/PRG/O0002.CNC", LongProgram()) &&
           WriteFile(folder + "/PRG/O0003.NC", "%\r\nO0003(DRILL)\r\nG81 X10.0 Y10.0 Z-5.0 R2.0 F60\r\nG80\r\nM30\r\n%\r\n") &&
           WriteFile(folder + "/O1234.NC", "%\r\nO1234(TEST)\r\nG04 X1.0\r\nM30\r\n%\r\n");
}

}  // namespace ncsim
