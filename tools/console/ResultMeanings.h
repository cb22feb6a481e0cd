// What the results of the plug-ins' exports mean, for the console's
// transcripts and its strict mode. The two plug-ins share export names with
// different meanings (-1, -2 and -3 of the SIP plug-in differ from export to
// export), so each has its own table.
#pragma once

#include <climits>

struct ResultMeaning {
    const char *szExport;  // null ends a table
    long lValue;           // D_lAnyOtherResult: every value without a row of its own
    const char *szMeaning;
    bool bFailure;  // fails the command in strict mode
};

const long D_lAnyOtherResult = LONG_MIN;

extern const ResultMeaning g_HandsetMeanings[];
extern const ResultMeaning g_SipMeanings[];

// The row for this export and result, or null when the table has none.
const ResultMeaning *FindMeaning(const ResultMeaning *pTable, const char *szExport, long lResult);
