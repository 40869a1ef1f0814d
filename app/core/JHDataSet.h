#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lanyard {

// One query result held as text: rows addressed by number, columns by name without regard to case.
class JHDataSet {
public:
    // Row key ("0", "1", ...) → (lower-case column name → text).
    using Rows = std::map<std::string, std::map<std::string, std::string>>;

    JHDataSet() = default;

    // Status -1, Rows 0, Cols 0; values and column names emptied. Always true.
    bool closeSet();
    // Appends a column name. Always true.
    bool addComn(const std::string& name);
    // The name of the column at the index; none when there is no such column.
    std::optional<std::string> getComnValue(int index) const;

    // Stores the text (or "" for none) under the named column of the row; false when the index
    // names no column.
    bool setValue(int row, int comnnum, const std::optional<std::string>& strvalue);
    bool setValue(int row, const std::string& comname, const std::optional<std::string>& strvalue);

    // "" when there are no values or the index names no column (or an empty one); else as below.
    std::optional<std::string> getValue(int row, int comnnum) const;
    // "" when there are no values or no such row; none when the row has no value for the column.
    std::optional<std::string> getValue(int row, const std::string& comname) const;

    const Rows& data() const { return m_data; }
    void setData(Rows value) { m_data = std::move(value); }
    const std::vector<std::string>& comns() const { return m_comns; }
    void setComns(std::vector<std::string> value) { m_comns = std::move(value); }
    std::int32_t status() const { return m_status; }
    void setStatus(std::int32_t value) { m_status = value; }
    std::int32_t rows() const { return m_rows; }
    void setRows(std::int32_t value) { m_rows = value; }
    std::int32_t cols() const { return m_cols; }
    void setCols(std::int32_t value) { m_cols = value; }
    std::int32_t flag() const { return m_flag; }
    void setFlag(std::int32_t value) { m_flag = value; }
    const std::string& colNamesBuf() const { return m_colNamesBuf; }
    void setColNamesBuf(std::string value) { m_colNamesBuf = std::move(value); }

private:
    Rows m_data;
    std::vector<std::string> m_comns;
    std::int32_t m_status = 0;
    std::int32_t m_rows = 0;
    std::int32_t m_cols = 0;
    std::int32_t m_flag = 0;
    std::string m_colNamesBuf;
};

} // namespace lanyard
