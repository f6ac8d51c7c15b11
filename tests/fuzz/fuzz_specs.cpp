// libFuzzer target: specs files and option strings on arbitrary bytes, then the settings
// copied into a record.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "files/specs.h"
#include "lp/lp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::string path = "/tmp/orva-fuzz-specs-" + std::to_string(getpid()) + ".spc";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    orva::reset_opns();
    orva::rd_specs(path.c_str());
    const std::string words(reinterpret_cast<const char *>(data), size);
    orva::rd_opns(words.c_str());
    orva::LP *lp = orva::openlp();
    orva::set_opns(lp);
    orva::closelp(lp);
    return 0;
}
