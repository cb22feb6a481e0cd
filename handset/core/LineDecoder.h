// CLineDecoder: the handset's event lines, from the characters of its input
// reports to the event each line stands for.
//
// This is the one place where bytes from the handset are parsed, so it uses
// no Windows header: it builds natively as well, where the fuzzer
// (tests/line_fuzz_harness.cpp) feeds it arbitrary report streams under
// AddressSanitizer and UndefinedBehaviorSanitizer.
//
// Threads: the link thread owns its decoder and is the only caller, so the
// decoder takes no lock. What a line means is returned as a CLineEvent; the
// link thread acts on it (queues digits, posts notifications). A field of an
// event (digits, caller number) is staged in the decoder's ListBuf and stays
// valid until the next digit or caller-number line is decoded: message 1133
// hands that address to the host.
#pragma once

enum class ELineEvent {
    Ignored,       // dropped (not "AT" ... CR, or overlong) or a letter of no meaning
    Ring,          // R
    Digits,        // N: the digits up to the first CR
    HangUp,        // H
    OffHook,       // Z
    CallerNumber,  // C with I: the number from position 5 up to the first CR
    Ping,          // X
};

struct CLineEvent {
    ELineEvent eKind;
    // Digits and caller number only: NUL-terminated within ListBuf, at most
    // D_nListBufSize - 1 characters; otherwise an empty string.
    const char *pszField;
    int nFieldLength;
};

class CLineDecoder {
public:
    static constexpr int D_nDataBufSize = 50;  // one event line, CR included
    static constexpr int D_nListBufSize = 32;  // caller number or digit run + NUL

    CLineDecoder();

    // One input character. True when it ended a line (the LF, which is not
    // stored); *pEvent then tells what the line meant. A line that outgrows
    // DataBuf is dropped whole, up to its LF.
    bool TakeCharacter(char cChar, CLineEvent *pEvent);
    // What an assembled line means. A line is accepted when it holds at
    // least 3 characters, begins with "AT" and ends with CR.
    CLineEvent DecodeLine(const char *pLine, int nLength);
    // Forgets a half line: it must not be glued to the first line read after
    // the handset comes back.
    void ResetLine();

    // For the fuzzer's invariants: how many characters of the current line
    // are kept (at most D_nDataBufSize), and the fields' staging buffer.
    int PendingLength() const { return m_nDataLen; }
    const char *ListBuf() const { return m_szListBuf; }

private:
    int StageField(const char *pLine, int nLength, int nFrom);
    CLineEvent FieldEvent(ELineEvent eKind, int nFieldLength) const;

    // Byte-sized members only, in this order: the object has no padding, so
    // an overrun of DataBuf lands in ListBuf, one of ListBuf in the length,
    // and one past the end outside the object, each where the fuzzer looks.
    char m_szDataBuf[D_nDataBufSize];
    char m_szListBuf[D_nListBufSize];
    unsigned char m_nDataLen;
    bool m_bLineOverlong;
};
