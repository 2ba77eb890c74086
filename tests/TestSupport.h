// Shared helpers for the tests: a fixture that switches the modal seam on and fails the
// test on unexpected or missing modal UI, temporary files, and running the main window.
#pragma once

#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "ModalSeam.h"

class SeamTest : public ::testing::Test {
protected:
    void SetUp() override { ModalSeam::Begin(); }
    void TearDown() override {
        for (const std::string& f : ModalSeam::End())
            ADD_FAILURE() << "modal UI: " << f;
    }
};

// A fresh directory under the system's temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::string Write(const std::string& name, const std::string& bytes) const;
    // Makes nested folders of component-byte names until the path is at least atLeast
    // bytes long; returns it.
    std::string Deep(size_t atLeast, size_t component) const;
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
};

std::string ReadFileBytes(const std::string& path);
// Text runs of many lengths between binary bytes, as much as asked for.
std::string LargeSample(size_t size);
void WriteFileBytes(const std::string& path, const std::string& bytes);

class CScanDlg;
// Runs the main window through the seam: body sees it after its initialisation.
void WithScanDlg(const std::function<void(CScanDlg&)>& body);
