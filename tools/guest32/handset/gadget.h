/* The handset's USB side: a configfs gadget on dummy_hcd with one HID
 * function, identified as the Halvex handset (0c70:0000, release 1.00). */
#ifndef GADGET_H
#define GADGET_H

/* Creates the gadget, not yet bound; 0 or -1 (the reason on stderr). */
int GadgetCreate(void);
/* Plugs it into the dummy UDC's bus or takes it off, then waits for udev
 * to settle; 0 or -1. */
int GadgetPlug(int bPlugged);
/* Takes it off the bus for good (see gadget.c for why it stays bound). */
void GadgetRemove(void);

#endif
