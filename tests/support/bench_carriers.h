#pragma once
// The workstation's key carriers from an in-process test: the same changes
// as bench/workstation's reader, card, token and usb commands (same files,
// same registry keys), and what the PC/SC stand-in recorded.

#include <map>
#include <string>
#include <vector>

namespace bench_carriers {

// --- PC/SC readers and cards (C:\bench\pcsc.txt) ---------------------------
struct Card {
    // Hex replies to the APDUs of one connection, in order, the last one
    // repeating; "!8010000A" makes that transmission fail with the code.
    std::vector<std::string> replies{"9000"};
    bool t1_only = false;
    bool exclusive = false;  // held exclusively by another program
};

void add_reader(const std::string& name);
void remove_reader(const std::string& name);
void insert_card(const std::string& reader, const Card& card = Card());
void remove_card(const std::string& reader);
void stop_pcsc_service(bool stopped);

// --- USB devices (HKLM\System\CurrentControlSet\Enum\USB) ------------------
extern const char usb_class_guid[];
extern const char hid_class_guid[];

// Node 0 is VID_<vid>&PID_0030\<id>; further nodes are its interfaces.
void insert_token(const std::string& id, const std::string& vid = "0A89", int nodes = 1);
void remove_token(const std::string& id);
void add_usb_device(const std::string& id, const std::string& vid, const std::string& class_guid = hid_class_guid);
void remove_usb_device(const std::string& id);

// No reader, card, token or device of the bench; service running; records
// and counters forgotten.
void clear_all();
void clear_pcsc_records();

// --- what the PC/SC stand-in saw --------------------------------------------
struct PcscCall {
    std::string call;    // establish, list, free, connect, transmit, disconnect, release
    std::string reader;  // for connect, transmit and disconnect
    std::map<std::string, std::string> fields;  // "rc" -> "0x00000000", "apdu" -> "80FE060000", ...
};
std::vector<PcscCall> pcsc_calls();
std::vector<PcscCall> pcsc_calls(const std::string& call, const std::string& reader = std::string());
// Hex of every APDU sent to the reader, in order.
std::vector<std::string> apdus_sent_to(const std::string& reader);

struct OpenHandles {
    long contexts;
    long cards;
    long lists;
};
OpenHandles open_pcsc_handles();

}  // namespace bench_carriers
