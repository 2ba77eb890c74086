#include "CString.h"

#include <cstdarg>
#include <cstdio>

int CString::ReverseFind(char ch) const {
    size_t i = m_s.rfind(ch);
    return i == std::string::npos ? -1 : static_cast<int>(i);
}

CString CString::Left(int nCount) const {
    if (nCount <= 0)
        return CString();
    return CString(m_s.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
    if (nFirst <= 0)
        return *this;
    if (nFirst >= GetLength())
        return CString();
    return CString(m_s.substr(static_cast<size_t>(nFirst)));
}

void CString::MakeUpper() {
    for (char& c : m_s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
}

void CString::Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n < 0) {
        va_end(ap2);
        m_s.clear();
        return;
    }
    m_s.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&m_s[0], m_s.size(), fmt, ap2);
    va_end(ap2);
    m_s.resize(static_cast<size_t>(n));
}
