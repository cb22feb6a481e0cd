// Every export of the SIP plug-in; the export name is the function's name.
// Included with TV_SIP_SLOT defined.
TV_SIP_SLOT(TV_Initialize)
TV_SIP_SLOT(TV_UnInitialize)
TV_SIP_SLOT(TV_MakeCall)
TV_SIP_SLOT(TV_HangUpCall)
TV_SIP_SLOT(TV_OffHook)
TV_SIP_SLOT(TV_PickUp)
TV_SIP_SLOT(TV_Installed)
TV_SIP_SLOT(TV_StartPlayFile)
TV_SIP_SLOT(TV_StopPlayFile)
TV_SIP_SLOT(TV_StartRecordFile)
TV_SIP_SLOT(TV_StopRecordFile)
