// BRAVIK32.dll, the Halvex USB handset plug-in: P/Invoke declarations for a
// .NET host, the counterpart of include\bravik32.h (which has the results,
// the waits and the threads of every export).
//
// The plug-in is a 32-bit DLL: the host must run as a 32-bit process
// (Platform target x86). Every export is __stdcall (CallingConvention.StdCall)
// and returns a 32-bit int; strings go in the system ANSI code page
// (CharSet.Ansi). Nine exports have decorated names, given as EntryPoint.
// Output buffers belong to the caller, at least as large as given below.
//
// The SIP plug-in (marenta.cs) is deployed under the same file name with
// other argument lists for six of these names: a host that supports both
// calls only the class of the plug-in that is deployed, which
// Bravik32.IsHandsetPlugin tells (DllImport binds each function at its first
// call, so the other class's declarations do no harm).
//
// Messages: the plug-in posts them (never sends) to the window given to
// CT_StartMonitor; in Windows Forms override WndProc and compare m.Msg with
// the MSG_ constants. For MSG_CALLER_ID call CT_GetANI: wParam points into
// the plug-in's own buffer, which it may have overwritten already.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace TelephonyPlugins
{
    public static class Bravik32
    {
        public const string Dll = "BRAVIK32.dll";

        public const int WM_USER = 0x0400;
        public const int MSG_RING = WM_USER + 100;        // 1124: the line rings
        public const int MSG_STOP_DIGIT = WM_USER + 101;  // 1125: the CT_SetStopIO digit arrived
        public const int MSG_HANG_UP = WM_USER + 102;     // 1126: the handset hung up
        public const int MSG_OFF_HOOK = WM_USER + 103;    // 1127: the handset went off hook
        public const int MSG_CALLER_ID = WM_USER + 109;   // 1133: a caller number arrived (CT_GetANI)
        public const int MSG_NO_HANDSET = WM_USER + 110;  // 1134: a search found no handset

        // Output buffer sizes, in bytes.
        public const int DTMF_BUFFER = 30;      // CT_GetDTMFStr, CT_GetKeys (no NUL written)
        public const int ANI_BUFFER = 32;       // CT_GetANI (NUL-terminated)
        public const int VERSION_BUFFER = 9;    // TV_GetDLLVersion (NUL-terminated)

        [DllImport("kernel32.dll", CharSet = CharSet.Ansi, ExactSpelling = true)]
        private static extern IntPtr GetProcAddress(IntPtr hModule, string procName);

        // True when the loaded module (LoadLibrary's handle) is the handset
        // plug-in: only it exports CT_StartMonitor.
        public static bool IsHandsetPlugin(IntPtr hModule)
        {
            return GetProcAddress(hModule, "CT_StartMonitor") != IntPtr.Zero;
        }

        // Host telephony-device interface.
        [DllImport(Dll, EntryPoint = "TV_Installed", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_Installed();
        [DllImport(Dll, EntryPoint = "TV_Initialize", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_Initialize();
        [DllImport(Dll, EntryPoint = "TV_Disable", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_Disable();
        [DllImport(Dll, EntryPoint = "TV_CompressRatio", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_CompressRatio(int nIgnored);
        [DllImport(Dll, EntryPoint = "TV_ConnectChannels", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_ConnectChannels(int nFirst, int nSecond);
        [DllImport(Dll, EntryPoint = "TV_ConnectTo", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_ConnectTo(int nFirst, int nSecond);
        [DllImport(Dll, EntryPoint = "TV_Disconnect", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_Disconnect(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_DisconnectChannels", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_DisconnectChannels(int nFirst, int nSecond);
        [DllImport(Dll, EntryPoint = "TV_FlushDTMF", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_FlushDTMF(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_GetDTMFChar", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_GetDTMFChar(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_HangUpCtrl", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_HangUpCtrl(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_OffHookCtrl", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_OffHookCtrl(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_StartDial", CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int TV_StartDial(int nChannel, [MarshalAs(UnmanagedType.LPStr)] string szDigits);
        // new StringBuilder(VERSION_BUFFER): "20060601" in every release.
        [DllImport(Dll, EntryPoint = "TV_GetDLLVersion", CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int TV_GetDLLVersion([MarshalAs(UnmanagedType.LPStr)] StringBuilder szVersion);

        // Handset control.
        [DllImport(Dll, EntryPoint = "CT_StartMonitor", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_StartMonitor(IntPtr hWnd);
        [DllImport(Dll, EntryPoint = "_CT_StopMonitor@0", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_StopMonitor();
        [DllImport(Dll, EntryPoint = "CT_Flash", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_Flash();
        [DllImport(Dll, EntryPoint = "CT_Bell", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_Bell(int nFlag);
        [DllImport(Dll, EntryPoint = "CT_Keyboard", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_Keyboard(int nFlag);
        [DllImport(Dll, EntryPoint = "CT_Mic", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_Mic(int nFlag);
        [DllImport(Dll, EntryPoint = "CT_Spk", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_Spk(int nFlag);
        [DllImport(Dll, EntryPoint = "_CT_RingOn@0", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_RingOn();
        [DllImport(Dll, EntryPoint = "_CT_RingOff@0", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_RingOff();
        [DllImport(Dll, EntryPoint = "_CT_MicMute@4", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_MicMute(int nFlag);
        [DllImport(Dll, EntryPoint = "_CT_EarMute@4", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_EarMute(int nFlag);
        [DllImport(Dll, EntryPoint = "_CT_KeyLock@4", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_KeyLock(int nFlag);
        [DllImport(Dll, EntryPoint = "_CT_SendDTMF@4", CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int CT_SendDTMF([MarshalAs(UnmanagedType.LPStr)] string szDigits);
        // new StringBuilder(ANI_BUFFER): the last caller number, "" if none.
        [DllImport(Dll, EntryPoint = "CT_GetANI", CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int CT_GetANI([MarshalAs(UnmanagedType.LPStr)] StringBuilder szNumber);
        // new byte[DTMF_BUFFER], zeroed: no NUL is written; count up to the first 0.
        [DllImport(Dll, EntryPoint = "CT_GetKeys", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_GetKeys([Out] byte[] pKeys);
        // new byte[DTMF_BUFFER]: the result is the number of digits written.
        [DllImport(Dll, EntryPoint = "CT_GetDTMFStr", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_GetDTMFStr([Out] byte[] pDigits);
        [DllImport(Dll, EntryPoint = "CT_SetStopIO", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_SetStopIO(int nDigit);
        [DllImport(Dll, EntryPoint = "?CT_GetErrorDesc@@YGHPAD@Z", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_GetErrorDesc([Out] byte[] szDescription);
        [DllImport(Dll, EntryPoint = "?CT_GetStatus@@YGHXZ", CallingConvention = CallingConvention.StdCall)]
        public static extern int CT_GetStatus();

        // File playback into the earpiece and recording of the microphone.
        [DllImport(Dll, EntryPoint = "TV_StartPlayFile", CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int TV_StartPlayFile(int nChannel, [MarshalAs(UnmanagedType.LPStr)] string szFile, int nIgnored1, int nIgnored2);
        [DllImport(Dll, EntryPoint = "TV_StopPlayFile", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_StopPlayFile(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_PlayFileRest", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_PlayFileRest(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_StartRecordFile", CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int TV_StartRecordFile(int nChannel, [MarshalAs(UnmanagedType.LPStr)] string szFile, int nIgnored1, int nIgnored2);
        [DllImport(Dll, EntryPoint = "TV_StopRecordFile", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_StopRecordFile(int nChannel);
        [DllImport(Dll, EntryPoint = "TV_RecordFileRest", CallingConvention = CallingConvention.StdCall)]
        public static extern int TV_RecordFileRest(int nChannel);
    }
}
