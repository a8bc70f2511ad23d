#include "support/bench_carriers.h"

#include "common/bench_files.h"
#include "winscard/pcsc_state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace bench_carriers {

const char usb_class_guid[] = "{36fc9e60-c465-11cf-8056-444553540000}";
const char hid_class_guid[] = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";

namespace {

const char enum_usb[] = "System\\CurrentControlSet\\Enum\\USB\\";
const char devices_file[] = "usb-devices.txt";  // <token|usb> \t ID \t hardware id \t instance

std::vector<pcsc_bench::Reader> readers()
{
    return pcsc_bench::parse_state(bench::read_lines(bench::path(pcsc_bench::state_file)));
}

void write_readers(const std::vector<pcsc_bench::Reader>& list)
{
    std::string text;
    for (const auto& reader : list)
        text += pcsc_bench::format_reader(reader) + "\r\n";
    bench::write_file(bench::path(pcsc_bench::state_file), text);
}

pcsc_bench::Reader* find(std::vector<pcsc_bench::Reader>& list, const std::string& name)
{
    for (auto& reader : list)
        if (reader.name == name)
            return &reader;
    ADD_FAILURE() << "the bench has no reader \"" << name << "\"";
    return nullptr;
}

struct Node {
    std::string kind, id, hardware_id, instance;
};

std::vector<Node> plugged_nodes()
{
    std::vector<Node> nodes;
    for (const std::string& line : bench::read_lines(bench::path(devices_file))) {
        std::vector<std::string> f = bench::split(line, '\t');
        if (f.size() == 4)
            nodes.push_back(Node{f[0], f[1], f[2], f[3]});
    }
    return nodes;
}

void write_nodes(const std::vector<Node>& nodes)
{
    std::string text;
    for (const Node& n : nodes)
        text += n.kind + "\t" + n.id + "\t" + n.hardware_id + "\t" + n.instance + "\r\n";
    bench::write_file(bench::path(devices_file), text);
}

void set_string(HKEY key, const char* name, DWORD type, const std::string& value)
{
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

void create_node(const Node& node, const std::string& description, const std::string& class_guid)
{
    HKEY key = nullptr;
    const std::string path = enum_usb + node.hardware_id + "\\" + node.instance;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    ASSERT_EQ(ERROR_SUCCESS, rc) << path;
    set_string(key, "DeviceDesc", REG_SZ, description);
    set_string(key, "ClassGUID", REG_SZ, class_guid);
    set_string(key, "HardwareID", REG_MULTI_SZ, std::string("USB\\") + node.hardware_id + '\0');
    RegCloseKey(key);
}

void delete_node(const Node& node)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (enum_usb + node.hardware_id + "\\" + node.instance).c_str());
}

void plug(const std::vector<Node>& added, const std::string& description, const std::string& class_guid)
{
    std::vector<Node> nodes = plugged_nodes();
    for (const Node& node : added) {
        for (const Node& old : nodes)
            if (old.id == node.id)
                ADD_FAILURE() << "device \"" << node.id << "\" is already plugged in";
        create_node(node, description, class_guid);
    }
    nodes.insert(nodes.end(), added.begin(), added.end());
    write_nodes(nodes);
}

void unplug(const std::string& kind, const std::string& id)
{
    std::vector<Node> kept;
    bool found = false;
    for (const Node& node : plugged_nodes()) {
        if (node.kind == kind && node.id == id) {
            delete_node(node);
            found = true;
        } else {
            kept.push_back(node);
        }
    }
    EXPECT_TRUE(found) << "no " << kind << " \"" << id << "\" is plugged in";
    write_nodes(kept);
}

std::string hardware_id(const std::string& vid, const std::string& pid)
{
    return "VID_" + vid + "&PID_" + pid;
}

}  // namespace

void add_reader(const std::string& name)
{
    auto list = readers();
    pcsc_bench::Reader reader;
    reader.name = name;
    list.push_back(reader);
    write_readers(list);
}

void remove_reader(const std::string& name)
{
    auto list = readers();
    if (pcsc_bench::Reader* reader = find(list, name))
        list.erase(list.begin() + (reader - list.data()));
    write_readers(list);
}

void insert_card(const std::string& reader_name, const Card& card)
{
    auto list = readers();
    if (pcsc_bench::Reader* reader = find(list, reader_name)) {
        reader->card = true;
        reader->replies = card.replies;
        reader->t1_only = card.t1_only;
        reader->exclusive = card.exclusive;
    }
    write_readers(list);
}

void remove_card(const std::string& reader_name)
{
    auto list = readers();
    if (pcsc_bench::Reader* reader = find(list, reader_name))
        *reader = pcsc_bench::Reader{reader_name, false, false, false, {}};
    write_readers(list);
}

void stop_pcsc_service(bool stopped)
{
    const std::string flag = bench::path(pcsc_bench::stopped_file);
    if (stopped)
        bench::write_file(flag, "");
    else
        DeleteFileA(flag.c_str());
}

void insert_token(const std::string& id, const std::string& vid, int nodes)
{
    std::vector<Node> added{Node{"token", id, hardware_id(vid, "0030"), id}};
    for (int k = 0; k + 1 < nodes; ++k) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "&MI_%02d", k);
        added.push_back(Node{"token", id, hardware_id(vid, "0030") + suffix, id + suffix});
    }
    plug(added, "Keyhaven bench USB token", usb_class_guid);
}

void remove_token(const std::string& id)
{
    unplug("token", id);
}

void add_usb_device(const std::string& id, const std::string& vid, const std::string& class_guid)
{
    plug({Node{"usb", id, hardware_id(vid, "0001"), id}}, "Keyhaven bench USB device", class_guid);
}

void remove_usb_device(const std::string& id)
{
    unplug("usb", id);
}

void clear_pcsc_records()
{
    DeleteFileA(bench::path(pcsc_bench::record_file).c_str());
    DeleteFileA(bench::path(pcsc_bench::counters_file).c_str());
}

void clear_all()
{
    for (const Node& node : plugged_nodes())
        delete_node(node);
    DeleteFileA(bench::path(devices_file).c_str());
    DeleteFileA(bench::path(pcsc_bench::state_file).c_str());
    stop_pcsc_service(false);
    clear_pcsc_records();
}

std::vector<PcscCall> pcsc_calls()
{
    std::vector<PcscCall> calls;
    for (const std::string& line : bench::read_lines(bench::path(pcsc_bench::record_file))) {
        std::vector<std::string> fields = bench::split(line, '\t');
        PcscCall call;
        call.call = fields[0];
        for (std::size_t i = 1; i < fields.size(); ++i) {
            std::string::size_type equals = fields[i].find('=');
            if (i == 1 && (call.call == "connect" || call.call == "transmit" || call.call == "disconnect"))
                call.reader = fields[i];
            else if (equals != std::string::npos)
                call.fields[fields[i].substr(0, equals)] = fields[i].substr(equals + 1);
        }
        calls.push_back(call);
    }
    return calls;
}

std::vector<PcscCall> pcsc_calls(const std::string& call, const std::string& reader)
{
    std::vector<PcscCall> chosen;
    for (const PcscCall& c : pcsc_calls())
        if (c.call == call && (reader.empty() || c.reader == reader))
            chosen.push_back(c);
    return chosen;
}

std::vector<std::string> apdus_sent_to(const std::string& reader)
{
    std::vector<std::string> apdus;
    for (const PcscCall& c : pcsc_calls("transmit", reader))
        apdus.push_back(c.fields.at("apdu"));
    return apdus;
}

OpenHandles open_pcsc_handles()
{
    auto counters = bench::read_counters(bench::path(pcsc_bench::counters_file));
    return OpenHandles{counters[pcsc_bench::open_contexts], counters[pcsc_bench::open_cards],
                       counters[pcsc_bench::open_lists]};
}

}  // namespace bench_carriers
