#include "CommandLine.h"

#include <algorithm>
#include <iostream>
#include <utility>

#include "Waits.h"

namespace cli {

void printWaits() {
    ledgerhost::seams::waitHook() = [told = false](const ledgerhost::seams::Wait& w) mutable {
        if (w.waiting && !told)
            std::cerr << "正在等待其他程序写完账套数据库（最多等待 " << w.deadlineMs / 1000
                      << " 秒）……" << std::endl;
        told = w.waiting;
    };
}

CommandLine::CommandLine(std::string program, std::vector<Option> options, std::size_t positional)
    : program_(std::move(program)), options_(std::move(options)), maxPositional_(positional) {}

bool CommandLine::refuse(const std::string& what) const {
    std::cerr << program_ << ": " << what << "\n";
    return false;
}

bool CommandLine::parse(const std::vector<std::string>& args) {
    values_.clear();
    all_.clear();
    positional_.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            if (positional_.size() == maxPositional_) return refuse("多余的参数 " + arg + "。");
            positional_.push_back(arg);
            continue;
        }
        const auto eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const auto option = std::find_if(options_.begin(), options_.end(),
                                         [&](const Option& o) { return name == o.name; });
        if (option == options_.end()) return refuse("不认识的参数 " + arg + "。");
        if (!option->takesValue) {
            if (eq != std::string::npos) return refuse("参数 " + name + " 不带值。");
            values_[name];
        } else if (eq != std::string::npos) {
            all_[name].push_back(values_[name] = arg.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            all_[name].push_back(values_[name] = args[++i]);
        } else {
            return refuse("参数 " + name + " 缺少值。");
        }
    }
    return true;
}

std::string CommandLine::value(const std::string& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? std::string() : it->second;
}

bool CommandLine::given(const std::string& name) const {
    return values_.count(name) != 0;
}

std::vector<std::string> CommandLine::values(const std::string& name) const {
    const auto it = all_.find(name);
    return it == all_.end() ? std::vector<std::string>() : it->second;
}

std::vector<std::string> arguments(int argc, char** argv, int first) {
    std::vector<std::string> out;
    for (int i = first; i < argc; ++i) out.emplace_back(argv[i]);
    return out;
}

}  // namespace cli
