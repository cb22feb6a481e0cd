// The host's playback and recording functions: each writes its log line
// first; the start and stop functions then tell the handset that file audio
// begins or ends (P and S for playback, T and Q for recording) and only then
// call the player or the recorder, whatever it will answer.
//
// Threads: every export runs on whichever host thread calls it. The play and
// record jobs are shared with the wave message thread and guarded inside the
// player and the recorder (audio/FilePlayback.h, audio/FileRecording.h);
// nothing here holds a lock.
//
// Waits, at most (the same headers): TV_StartPlayFile 1 s, for the
// output of the playback before to close; TV_StopRecordFile 2 s, for the
// buffers its reset returns; TV_StartRecordFile 3 s, the stop of a running
// recording and then 1 s for the input to close. A device that does not
// close in that time is abandoned, and the start opens it afresh. The first
// playback or recording of the process may wait 2 s more for the wave
// message thread to start. TV_StopPlayFile and the Rest exports never wait.
#include "bravik32.h"

#include "audio/FileJob.h"
#include "audio/FilePlayback.h"
#include "audio/FileRecording.h"
#include "core/ExportSteps.h"
#include "support/LogReporter.h"

extern "C" {

int WINAPI TV_StartPlayFile(int, const char *szFile, int, int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_StartPlayFile 开始播放:%s", Printable(szFile));
    SendLetter('P');
    return StartPlayFile(szFile);
}

int WINAPI TV_StopPlayFile(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_StopPlayFile 停止播放");
    if (IsPlayingFile()) {
        SendLetter('S');
        StopPlayFile(CDeadline(CFileJob::D_dwLockBoundMs));
    }
    return 1;
}

int WINAPI TV_PlayFileRest(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_PlayFileRest");
    return IsPlayingFile();
}

int WINAPI TV_StopRecordFile(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_StopRecordFile 停止录音");
    SendLetter('Q');
    return StopRecordFile(CDeadline(CFileJob::D_dwLockBoundMs));
}

int WINAPI TV_StartRecordFile(int nChannel, const char *szFile, int, int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_StartRecordFile 开始录音:%s.", Printable(szFile));
    // A second recording replaces the first, which is closed whole.
    if (IsRecordingFile()) TV_StopRecordFile(nChannel);
    SendLetter('T');
    return StartRecordFile(szFile);
}

int WINAPI TV_RecordFileRest(int) {
    g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "TV_RecordFileRest");
    return IsRecordingFile();
}

}  // extern "C"
