// korva-imagegen OUTPUT: writes the stand-in firmware image that the program
// carries (resource 6120). The same bytes on every build.
#include <cstdio>

#include "sim/FirmwareImage.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korva-imagegen OUTPUT\n");
        return 2;
    }
    const auto image = sim::BuildFirmwareImage(sim::StandInIdentity(), sim::kStandInImageSize, sim::kStandInSeed);
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (std::fclose(file) != 0 || !ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
