#pragma once
// The floor: the Windows calls that a quiet turn of the agent cannot avoid,
// made bare, with nothing of the agent around them. A quiet turn probes and
// takes the provider mutex, reads the settings file from the data folder,
// lists the readers and probes each one, and walks the USB device nodes;
// these functions do exactly those calls and nothing else.

namespace floor_calls {

// Probe for "nivra_crypto_pro_mutex", then create it owned, release, close.
void mutexes();
// Make sure of c:\nivra (CreateDirectoryA), then open, read and close
// c:\nivra\Keyhaven.ini. Returns the bytes read.
long settings_file();
// One PC/SC context to list the readers; per reader one context, a shared
// T=0 connection, the probe 80 FE 06 00 00 (and GET RESPONSE after 61 xx),
// disconnect, release. Returns the cards that answered 90 00.
int readers();
// Every present USB device node with its instance ID. Returns the nodes.
int usb_walk();

// All four, in the order of a turn.
void turn();

}  // namespace floor_calls
