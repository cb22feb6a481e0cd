// Marenta, the SIP agent plug-in, deployed as BRAVIK32.dll: P/Invoke
// declarations for a .NET host, the counterpart of include\marenta.h (which
// has the results, the waits and the threads of every export).
//
// The plug-in is a 32-bit DLL: the host must run as a 32-bit process
// (Platform target x86). Every export is __cdecl (CallingConvention.Cdecl:
// the caller pops the arguments; StdCall here would corrupt the stack) under
// its plain name and returns a 32-bit int; strings go in the system ANSI code
// page (CharSet.Ansi). TV_Initialize, TV_UnInitialize, TV_HangUpCall and
// TV_OffHook may block the calling thread for about 5 s (TV_MakeCall returns
// once the library has taken the request): call them off the UI thread. The
// plug-in posts no messages.
//
// The handset plug-in (bravik32.cs) has the same file name and six of these
// export names with other arguments: call only the class of the plug-in that
// is deployed, which Marenta.IsSipPlugin tells.
using System;
using System.Runtime.InteropServices;

namespace TelephonyPlugins
{
    public static class Marenta
    {
        public const string Dll = "BRAVIK32.dll";

        [DllImport("kernel32.dll", CharSet = CharSet.Ansi, ExactSpelling = true)]
        private static extern IntPtr GetProcAddress(IntPtr hModule, string procName);

        // True when the loaded module (LoadLibrary's handle) is the SIP
        // plug-in: only it exports TV_MakeCall.
        public static bool IsSipPlugin(IntPtr hModule)
        {
            return GetProcAddress(hModule, "TV_MakeCall") != IntPtr.Zero;
        }

        // 0 registered, -1 library start failed, -2 not confirmed in 5 s, -3 refused.
        [DllImport(Dll, EntryPoint = "TV_Initialize", CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
        public static extern int TV_Initialize([MarshalAs(UnmanagedType.LPStr)] string domain,
                                               [MarshalAs(UnmanagedType.LPStr)] string user,
                                               [MarshalAs(UnmanagedType.LPStr)] string credential,
                                               [MarshalAs(UnmanagedType.LPStr)] string outboundProxy,
                                               [MarshalAs(UnmanagedType.LPStr)] string initOption);
        [DllImport(Dll, EntryPoint = "TV_UnInitialize", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_UnInitialize();
        [DllImport(Dll, EntryPoint = "TV_MakeCall", CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
        public static extern int TV_MakeCall([MarshalAs(UnmanagedType.LPStr)] string destination);
        [DllImport(Dll, EntryPoint = "TV_HangUpCall", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_HangUpCall();
        [DllImport(Dll, EntryPoint = "TV_OffHook", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_OffHook();
        [DllImport(Dll, EntryPoint = "TV_PickUp", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_PickUp();
        [DllImport(Dll, EntryPoint = "TV_Installed", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_Installed();
        [DllImport(Dll, EntryPoint = "TV_StartPlayFile", CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
        public static extern int TV_StartPlayFile([MarshalAs(UnmanagedType.LPStr)] string file);
        [DllImport(Dll, EntryPoint = "TV_StopPlayFile", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_StopPlayFile();
        [DllImport(Dll, EntryPoint = "TV_StartRecordFile", CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi)]
        public static extern int TV_StartRecordFile([MarshalAs(UnmanagedType.LPStr)] string file);
        [DllImport(Dll, EntryPoint = "TV_StopRecordFile", CallingConvention = CallingConvention.Cdecl)]
        public static extern int TV_StopRecordFile();
    }
}
