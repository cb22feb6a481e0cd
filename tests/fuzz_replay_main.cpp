// The Windows side of the fuzz harnesses: replays every saved input of the
// folders given through the harness's LLVMFuzzerTestOneInput, so that the
// test run keeps the saved corpora passing between fuzzing runs. A broken
// invariant aborts the program, which fails the test.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize);

namespace {

std::vector<uint8_t> ReadInput(const std::string &strPath) {
    std::vector<uint8_t> input;
    if (FILE *pFile = fopen(strPath.c_str(), "rb")) {
        int nByte;
        while ((nByte = fgetc(pFile)) != EOF) input.push_back(static_cast<uint8_t>(nByte));
        fclose(pFile);
    }
    return input;
}

}  // namespace

int main(int argc, char **argv) {
    int nReplayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string strFolder = argv[i];
        WIN32_FIND_DATAA found;
        HANDLE hFind = FindFirstFileA((strFolder + "/*").c_str(), &found);
        if (hFind == INVALID_HANDLE_VALUE) continue;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::vector<uint8_t> input = ReadInput(strFolder + "/" + found.cFileName);
            LLVMFuzzerTestOneInput(input.data(), input.size());
            ++nReplayed;
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    printf("replayed %d saved inputs\n", nReplayed);
    return nReplayed > 0 ? 0 : 1;
}
