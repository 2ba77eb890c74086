// A counted byte string. Texts are bytes, not characters: upper-casing is plain ASCII.
#pragma once

#include <string>

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_s(psz ? psz : "") {}
    CString(const char* p, int nLength) : m_s(p, nLength > 0 ? nLength : 0) {}
    explicit CString(std::string s) : m_s(std::move(s)) {}

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    const char* GetString() const { return m_s.c_str(); }
    operator const char*() const { return m_s.c_str(); }
    const std::string& Str() const { return m_s; }

    CString& operator=(const char* psz) {
        m_s = psz ? psz : "";
        return *this;
    }
    CString& operator+=(const CString& s) {
        m_s += s.m_s;
        return *this;
    }
    CString& operator+=(const char* psz) {
        m_s += psz ? psz : "";
        return *this;
    }
    CString& operator+=(char ch) {
        m_s += ch;
        return *this;
    }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_s + b); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.m_s == b; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_s != b.m_s; }

    int ReverseFind(char ch) const;
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    void MakeUpper();
    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

private:
    std::string m_s;
};
