// The batch's plan: names, then three checks over all of them, each through a table of the
// files' identities.

#include "frontend/batch_plan.h"

#include <sys/stat.h>  // stat, lstat

#include <cstring>        // std::strlen
#include <unordered_map>  // std::unordered_map

#include "frontend/file_identity.h"

namespace vellox {

namespace {

// The identity of an existing file: its device and inode.
std::string file_key(const struct stat& status) {
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

// What the output named name will be, the same string for every name that leads to it: the
// file's identity when it exists; else its folder's identity and its own name, symbolic links
// followed; else (no folder) the name.
std::string output_key(const std::string& name, bool* exists) {
    std::string path;
    struct stat status {};
    if (!resolve_target(name.c_str(), &path, &status, exists)) {
        *exists = false;
        return "?" + name;
    }
    if (*exists) return file_key(status);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat folder_status {};
    if (::stat(folder.c_str(), &folder_status) != 0) return "?" + name;
    return file_key(folder_status) + "/" + base;
}

}  // namespace

std::string batch_output_name(const char* input, const char* output_dir, const char* extension) {
    const std::string name = input;
    const std::size_t slash = name.rfind('/');
    const std::size_t base_start = slash == std::string::npos ? 0 : slash + 1;
    std::string base = name.substr(base_start);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    base += extension;
    if (output_dir == nullptr) return name.substr(0, base_start) + base;
    const std::size_t length = std::strlen(output_dir);
    const bool ends_in_slash = length > 0 && output_dir[length - 1] == '/';
    return std::string(output_dir) + (ends_in_slash ? "" : "/") + base;
}

std::vector<BatchFile> plan_batch(const std::vector<const char*>& inputs, const char* output_dir,
                                  const char* extension, bool force) {
    std::vector<BatchFile> files(inputs.size());
    std::vector<std::string> output_keys(inputs.size());
    std::vector<bool> output_exists(inputs.size());
    // Existing outputs by identity, and every output by its key: the first file that has it.
    std::unordered_map<std::string, std::size_t> existing_outputs;
    std::unordered_map<std::string, std::size_t> outputs;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        BatchFile& file = files[i];
        file.input = inputs[i];
        file.output = batch_output_name(inputs[i], output_dir, extension);
        bool exists = false;
        output_keys[i] = output_key(file.output, &exists);
        if (exists) existing_outputs.emplace(output_keys[i], i);
        // A link that leads nowhere counts too: what it would create is not the user's to
        // guess.
        struct stat link_status {};
        output_exists[i] = exists || ::lstat(file.output.c_str(), &link_status) == 0;
        outputs.emplace(output_keys[i], i);
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        BatchFile& file = files[i];
        struct stat input_status {};
        const bool input_found = ::stat(file.input, &input_status) == 0;
        if (input_found && S_ISREG(input_status.st_mode)) file.input_bytes = input_status.st_size;
        const auto producer =
            input_found ? existing_outputs.find(file_key(input_status)) : existing_outputs.end();
        if (producer != existing_outputs.end()) {
            file.plan = FilePlan::refused;
            if (producer->second == i) {
                file.reason = Message::same_file;
                file.reason_name = file.output;
            } else {
                file.reason = Message::input_is_an_output;
                file.reason_name = files[producer->second].input;
            }
        } else if (outputs.find(output_keys[i])->second != i) {
            file.plan = FilePlan::refused;
            file.reason = Message::same_output;
            file.reason_name = file.output;
        } else if (output_exists[i] && !force) {
            file.plan = FilePlan::skipped;
            file.reason = Message::output_exists;
            file.reason_name = file.output;
        }
    }
    return files;
}

}  // namespace vellox
