/* The handset's USB side: a configfs gadget on dummy_hcd with one HID
 * function, identified as the Halvex handset (0c70:0000, release 1.00). */
#ifndef GADGET_H
#define GADGET_H

/* Creates the gadget, not yet bound; 0 or -1 (the reason on stderr). */
int GadgetCreate(void);
/* Binds it to the dummy UDC (plug) or unbinds it (unplug), then waits for
 * udev to settle; 0 or -1. */
int GadgetPlug(int bPlugged);
/* Unbinds and removes everything GadgetCreate made. */
void GadgetRemove(void);

#endif
