#include "JHDataSet.h"

#include "AppText.h"

namespace lanyard {

namespace {

std::string rowKey(int row) {
    return std::to_string(row);
}

} // namespace

bool JHDataSet::closeSet() {
    m_status = -1;
    m_rows = 0;
    m_cols = 0;
    m_data.clear();
    m_comns.clear();
    return true;
}

bool JHDataSet::addComn(const std::string& name) {
    if (m_comns.empty()) {
        m_flag = 0;
    }
    m_comns.push_back(name);
    return true;
}

std::optional<std::string> JHDataSet::getComnValue(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_comns.size()) {
        return std::nullopt;
    }
    return m_comns[static_cast<std::size_t>(index)];
}

bool JHDataSet::setValue(int row, int comnnum, const std::optional<std::string>& strvalue) {
    const std::optional<std::string> name = getComnValue(comnnum);
    if (!name) {
        return false;
    }
    return setValue(row, *name, strvalue);
}

bool JHDataSet::setValue(int row, const std::string& comname, const std::optional<std::string>& strvalue) {
    if (m_data.empty()) {
        m_flag = 0;
    }
    m_data[rowKey(row)][lowercasedText(comname)] = strvalue.value_or(std::string());
    return true;
}

std::optional<std::string> JHDataSet::getValue(int row, int comnnum) const {
    if (m_data.empty()) {
        return std::string();
    }
    const std::optional<std::string> name = getComnValue(comnnum);
    if (!name || name->empty()) {
        return std::string();
    }
    return getValue(row, *name);
}

std::optional<std::string> JHDataSet::getValue(int row, const std::string& comname) const {
    const auto found = m_data.find(rowKey(row));
    if (found == m_data.end()) {
        return std::string();
    }
    const auto value = found->second.find(lowercasedText(comname));
    if (value == found->second.end()) {
        return std::nullopt;
    }
    return value->second;
}

} // namespace lanyard
