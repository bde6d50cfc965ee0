#include "tests/support/FakeWindow.h"

#include "app/VYX_UtilityDlg.h"
#include "resources/ControlIds.h"
#include "resources/Lists.h"

namespace vyx::test {

namespace res = vyx::resources;

namespace {

template <std::size_t N>
std::vector<std::string> ToStrings(const std::array<std::string_view, N>& entries) {
    return {entries.begin(), entries.end()};
}

}  // namespace

FakeWindow::FakeWindow() {
    // What the template brings: the lists' own entries; the COM list starts empty.
    m_Lists[res::IDC_CURRENT_BAUD] = ToStrings(res::kBaudRateEntries);
    m_Lists[res::IDC_NEW_BAUD] = ToStrings(res::kBaudRateEntries);
    m_Lists[res::IDC_COM_PORT] = {};
    m_Lists[res::IDC_COMMAND_SET] = ToStrings(res::kCommandSetEntries);
    m_Lists[res::IDC_DEFAULT_FONT] = ToStrings(res::kDefaultFontEntries);
    m_Lists[res::IDC_LANGUAGE] = ToStrings(res::kLanguageEntries);
    for (const auto& [id, entries] : m_Lists) {
        m_Selection[id] = -1;
    }
}

FakeWindow::~FakeWindow() = default;

void FakeWindow::AddString(int id, const std::string& text) {
    m_Calls.push_back("AddString " + std::to_string(id) + " " + text);
    m_Lists[id].push_back(text);
}

void FakeWindow::SetCurSel(int id, int index) {
    m_Calls.push_back("SetCurSel " + std::to_string(id) + " " + std::to_string(index));
    const auto& entries = m_Lists[id];
    // As CB_SETCURSEL: an index outside the list selects nothing.
    m_Selection[id] = index >= 0 && static_cast<std::size_t>(index) < entries.size() ? index : -1;
}

int FakeWindow::GetCurSel(int id) const {
    const auto it = m_Selection.find(id);
    return it == m_Selection.end() ? -1 : it->second;
}

std::string FakeWindow::GetDlgItemText(int id) const {
    const auto it = m_Texts.find(id);
    return it == m_Texts.end() ? std::string() : it->second;
}

void FakeWindow::EnableWindow(int id, bool enable) {
    m_Calls.push_back("EnableWindow " + std::to_string(id) + " " + (enable ? "1" : "0"));
    m_Enables.emplace_back(id, enable);
    m_Enabled[id] = enable;
}

bool FakeWindow::IsWindowEnabled(int id) const {
    const auto it = m_Enabled.find(id);
    return it == m_Enabled.end() || it->second;
}

void FakeWindow::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    m_Calls.push_back("MessageBox");
    m_Boxes.push_back(Box{text, caption, style});
    const Box box = m_Boxes.back();
    ++m_BoxDepth;
    if (m_Answer) {
        m_Answer(box, m_BoxDepth);
    }
    --m_BoxDepth;
}

void FakeWindow::ShowAboutBox() {
    m_Calls.push_back("ShowAboutBox");
    ++m_AboutBoxes;
}

void FakeWindow::AppendSystemMenuSeparator() {
    m_Calls.push_back("AppendSystemMenuSeparator");
    m_Menu.emplace_back(0u, std::string());
}

void FakeWindow::AppendSystemMenuItem(unsigned commandId, const std::string& text) {
    m_Calls.push_back("AppendSystemMenuItem " + std::to_string(commandId) + " " + text);
    m_Menu.emplace_back(commandId, text);
}

void FakeWindow::SetIcons() {
    m_Calls.push_back("SetIcons");
    ++m_IconSets;
}

void FakeWindow::Beep() {
    m_Calls.push_back("Beep");
    ++m_Beeps;
}

void FakeWindow::EndDialog(int result) {
    m_Calls.push_back("EndDialog " + std::to_string(result));
    m_EndResult = result;
}

void FakeWindow::Click(int id) {
    if (m_Dialog != nullptr && IsWindowEnabled(id)) {
        m_Dialog->OnCommand(id);
    }
}

void FakeWindow::Type(int id, const std::string& text) {
    m_Texts[id] = text;
}

void FakeWindow::Select(int id, int index) {
    const auto& entries = m_Lists[id];
    m_Selection[id] = index >= 0 && static_cast<std::size_t>(index) < entries.size() ? index : -1;
    m_Texts[id] = m_Selection[id] >= 0 ? entries[static_cast<std::size_t>(index)] : "";
}

void FakeWindow::EditListText(int id, const std::string& text) {
    m_Selection[id] = -1;
    m_Texts[id] = text;
}

const std::vector<std::string>& FakeWindow::Entries(int id) const {
    static const std::vector<std::string> kNone;
    const auto it = m_Lists.find(id);
    return it == m_Lists.end() ? kNone : it->second;
}

void FakeWindow::ClearLog() {
    m_Calls.clear();
    m_Boxes.clear();
    m_Menu.clear();
    m_Enables.clear();
}

bool FakeWindow::PostQueue::PostMessage(std::uint32_t message, std::uint64_t wParam,
                                        std::int64_t lParam) {
    {
        std::lock_guard lock(m_Owner.m_PostLock);
        m_Owner.m_Posted.push_back(Posted{message, wParam, lParam});
    }
    m_Owner.m_PostCv.notify_all();
    return true;
}

bool FakeWindow::DeliverOne(std::chrono::steady_clock::time_point deadline) {
    Posted msg;
    {
        std::unique_lock lock(m_PostLock);
        if (!m_PostCv.wait_until(lock, deadline, [this] { return !m_Posted.empty(); })) {
            return false;
        }
        msg = m_Posted.front();
        m_Posted.pop_front();
    }
    // Delivered without the lock: the handler may open a box that pumps again.
    if (m_Dialog != nullptr) {
        m_Dialog->OnMessage(msg.message, msg.wParam, msg.lParam);
    }
    return true;
}

bool FakeWindow::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (!DeliverOne(deadline)) {
            return done();
        }
    }
    return true;
}

int FakeWindow::PumpPending() {
    int delivered = 0;
    std::size_t pending = PostedCount();
    while (pending-- > 0 && DeliverOne(std::chrono::steady_clock::now())) {
        ++delivered;
    }
    return delivered;
}

bool FakeWindow::WaitForPosted(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_PostLock);
    return m_PostCv.wait_for(lock, timeout, [&] { return m_Posted.size() >= count; });
}

std::size_t FakeWindow::PostedCount() const {
    std::lock_guard lock(m_PostLock);
    return m_Posted.size();
}

}  // namespace vyx::test
