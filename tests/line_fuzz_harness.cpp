// Fuzz harness for the handset's line decoder. Built two ways from this one
// file: natively with clang's libFuzzer and sanitizers (tools/fuzz.sh,
// TV_LIBFUZZER defined), and with the Windows toolchain into a program that
// replays the saved corpus (the line_fuzz_corpus_replay test).
//
// An input is a stream of 2-byte input reports as the handset sends them:
// byte 1 is the character. Byte 0, the report ID, is not looked at by the
// link, so the harness gives one of its values a meaning of its own: 0xEE
// stands for the handset lost just before that report, after which the link
// thread forgets its half line. A last odd byte is ignored.
//
// After every report the decoder is held to what the link relies on: no
// overrun (the kept part of a line stays within DataBuf), fields that are
// NUL-terminated within ListBuf and zero behind their NUL, a line longer
// than DataBuf dropped whole, every other line meaning what a plain reading
// of it says, and a digit queue (with CQueue's capacity and drop-oldest rule)
// that never holds more digits than the lines gave it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "core/LineDecoder.h"

namespace {

const uint8_t D_bLostBeforeReport = 0xEE;
const size_t D_nQueueCapacity = 1024;
const size_t D_nFieldMax = CLineDecoder::D_nListBufSize - 1;

// Without padding an overrun of either buffer reaches a member checked here,
// or memory outside the object, which AddressSanitizer guards.
static_assert(sizeof(CLineDecoder) == CLineDecoder::D_nDataBufSize + CLineDecoder::D_nListBufSize + 2,
              "the line decoder has no padding for an overrun to hide in");

void Require(bool bHolds, const char *pszWhat) {
    if (!bHolds) {
        fprintf(stderr, "broken invariant: %s\n", pszWhat);
        abort();
    }
}

struct Expected {
    ELineEvent eKind;
    std::string strField;
    size_t nGiven;  // characters of the field before any cut
};

// A plain reading of one whole line (its LF not included).
Expected Read(const std::string &strLine) {
    const Expected nothing = {ELineEvent::Ignored, "", 0};
    if (strLine.size() < 3 || strLine.compare(0, 2, "AT") != 0 || strLine.back() != '\r') return nothing;
    const size_t nFirstCR = strLine.find('\r', 3);
    auto field = [&](ELineEvent eKind, size_t nFrom) {
        const size_t nGiven = nFirstCR > nFrom ? nFirstCR - nFrom : 0;
        return Expected{eKind, strLine.substr(std::min(nFrom, strLine.size()), std::min(nGiven, D_nFieldMax)), nGiven};
    };
    switch (strLine[2]) {
    case 'R': return {ELineEvent::Ring, "", 0};
    case 'N': return field(ELineEvent::Digits, 3);
    case 'H': return {ELineEvent::HangUp, "", 0};
    case 'Z': return {ELineEvent::OffHook, "", 0};
    case 'X': return {ELineEvent::Ping, "", 0};
    case 'C': return strLine.size() > 3 && strLine[3] == 'I' ? field(ELineEvent::CallerNumber, 5) : nothing;
    default: return nothing;
    }
}

void CheckField(const CLineDecoder &decoder, const CLineEvent &event) {
    Require(event.pszField != nullptr, "every event carries a field pointer");
    Require(event.nFieldLength >= 0 && static_cast<size_t>(event.nFieldLength) <= D_nFieldMax,
            "a field leaves room for its NUL in ListBuf");
    if (event.eKind != ELineEvent::Digits && event.eKind != ELineEvent::CallerNumber) {
        Require(event.nFieldLength == 0 && event.pszField[0] == '\0', "events without data carry an empty field");
        return;
    }
    Require(event.pszField == decoder.ListBuf(), "digits and caller numbers are staged in ListBuf");
    for (int i = event.nFieldLength; i < CLineDecoder::D_nListBufSize; ++i)
        Require(decoder.ListBuf()[i] == '\0', "ListBuf is zero from the field's end to its own end");
}

// What the link's host side sees of the digits: CQueue's capacity and rule.
class CDigitQueueModel {
public:
    void Take(const CLineEvent &event) {
        for (int i = 0; i < event.nFieldLength; ++i) {
            if (m_queue.size() == D_nQueueCapacity) m_queue.pop_front();
            m_queue.push_back(event.pszField[i]);
        }
        m_nPushed += static_cast<size_t>(event.nFieldLength);
    }
    void Given(size_t nDigits) { m_nGiven += nDigits; }
    void Check() const {
        Require(m_nPushed <= m_nGiven, "no more digits queued than the lines held");
        Require(m_queue.size() <= D_nQueueCapacity, "the digit queue keeps its capacity");
    }

private:
    std::deque<char> m_queue;
    size_t m_nPushed = 0;
    size_t m_nGiven = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    CLineDecoder *pDecoder = new CLineDecoder;
    CDigitQueueModel digits;
    // ListBuf changes only when a field is staged.
    char acListBuf[CLineDecoder::D_nListBufSize] = {};
    std::string strLine;  // every character of the current line, kept or not
    for (size_t nAt = 0; nAt + 1 < nSize; nAt += 2) {
        if (pData[nAt] == D_bLostBeforeReport) {
            pDecoder->ResetLine();
            strLine.clear();
        }
        const char cChar = static_cast<char>(pData[nAt + 1]);
        CLineEvent event = {ELineEvent::Ring, nullptr, -1};
        const bool bEnded = pDecoder->TakeCharacter(cChar, &event);
        Require(bEnded == (cChar == '\n'), "exactly the LF ends a line");
        if (bEnded && (event.eKind == ELineEvent::Digits || event.eKind == ELineEvent::CallerNumber))
            memcpy(acListBuf, pDecoder->ListBuf(), sizeof acListBuf);
        Require(memcmp(acListBuf, pDecoder->ListBuf(), sizeof acListBuf) == 0,
                "nothing but a staged field writes into ListBuf");
        if (!bEnded) {
            strLine += cChar;
            Require(pDecoder->PendingLength() ==
                        static_cast<int>(std::min(strLine.size(), size_t(CLineDecoder::D_nDataBufSize))),
                    "the kept part of a line stays within DataBuf");
            continue;
        }
        Require(pDecoder->PendingLength() == 0, "a new line starts empty");
        CheckField(*pDecoder, event);
        const Expected expected = strLine.size() > size_t(CLineDecoder::D_nDataBufSize)
                                      ? Expected{ELineEvent::Ignored, "", 0}
                                      : Read(strLine);
        Require(event.eKind == expected.eKind, "the line means what it says (overlong: dropped whole)");
        Require(std::string(event.pszField, event.nFieldLength) == expected.strField,
                "the field holds the line's characters up to the first CR, cut to ListBuf");
        if (expected.eKind == ELineEvent::Digits) {
            digits.Given(expected.nGiven);
            digits.Take(event);
        }
        digits.Check();
        strLine.clear();
    }
    delete pDecoder;
    return 0;
}
