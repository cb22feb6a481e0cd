// The library's load and unload steps, apart from the entry point so that a
// host linking the plug-in's library directly (the demo host) runs the very
// same steps.
#pragma once

// Opens the log, writes "Log Started" and starts the link thread.
void PluginAttach();
// Stops the link thread and the wave message thread, writes "Log Exited" and
// closes the log. Bounded and safe under the loader lock.
void PluginDetach();
