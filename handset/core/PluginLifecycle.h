// The library's load and unload steps, apart from the entry point so that a
// host linking the plug-in's library directly (the demo host) runs the very
// same steps.
#pragma once

// Opens the log, writes "Log Started" and starts the link thread.
void PluginAttach();
// Stops the link thread and the wave message thread, writes "Log Exited" and
// closes the log. Bounded and safe under the loader lock. When the library is
// unloaded while the process goes on, a running playback or recording is
// stopped first, so its device is closed and the recording's last buffers
// reach the file; at process exit the wave message thread is already gone
// and there is nobody left to hand them over. Under the loader lock the
// devices are closed by threads of their own once the lock is free
// (audio/WaveClose.h).
void PluginDetach(bool bProcessExiting);
