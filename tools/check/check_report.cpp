// Findings, text conversions for output, and the two report formats: lines
// for people ("file:line: severity: message") and JSON for scripts.
#include <stdio.h>
#include <string.h>

#include "check.h"

namespace {

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

const char* severityName(Severity severity) {
    switch (severity) {
        case SeverityError:
            return "error";
        case SeverityWarning:
            return "warning";
        default:
            return "note";
    }
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string ballJson(int32_t ball) {
    if (ball == NoBall)
        return "null";
    if (ball == RandomEntry)
        return "\"random\"";
    return std::to_string(ball);
}

void printBallJson(const BallSummary& ball, bool random, FILE* out) {
    fprintf(out, "    {\"number\": %s, ", random ? "\"random\"" : std::to_string(ball.number).c_str());
    if (!random) {
        fprintf(out, "\"folder\": %s, \"listName\": %s, \"displayName\": %s, \"model\": %s, ",
                jsonString(ball.folder).c_str(), jsonString(ball.listName).c_str(),
                ball.hasDisplayName ? jsonString(ball.displayName).c_str() : "null", ball.model ? "true" : "false");
    }
    fprintf(out, "\"preview\": %s}", jsonString(ball.preview).c_str());
}

}  // namespace

Finding& addFinding(CheckReport& report, Severity severity, const char* kind, const std::string& file, int32_t line,
                    int32_t ball, const std::string& message) {
    report.findings.push_back(Finding{severity, kind, file, line, ball, message, {}});
    return report.findings.back();
}

void addDetail(Finding& finding, const char* name, const std::string& text) {
    finding.details.push_back(Detail{name, text, 0, false});
}

void addDetail(Finding& finding, const char* name, int64_t number) {
    finding.details.push_back(Detail{name, std::string(), number, true});
}

std::string toUtf8(const char16_t* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string toUtf8(const std::u16string& text) {
    return toUtf8(text.data(), text.size());
}

std::string toUtf8(const std::wstring& text) {
    std::u16string units;
    for (wchar_t c : text) {
        const uint32_t value = static_cast<uint32_t>(c);
        if (value >= 0x10000 && value <= 0x10FFFF) {
            units += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(value);
        }
    }
    return toUtf8(units);
}

std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        uint32_t c = p[i];
        size_t extra = 0;
        if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            c &= 0x07;
        } else if (c >= 0xE0) {
            extra = 2;
            c &= 0x0F;
        } else if (c >= 0xC2 && c < 0xE0) {
            extra = 1;
            c &= 0x1F;
        } else if (c >= 0x80) {
            extra = 0;
            c = 0xFFFD;
        }
        bool good = i + extra < n || extra == 0;
        for (size_t k = 1; good && k <= extra; ++k)
            good = (p[i + k] & 0xC0) == 0x80;
        if (!good) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        for (size_t k = 1; k <= extra; ++k)
            c = (c << 6) | (p[i + k] & 0x3F);
        i += extra + 1;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string latin1ToUtf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p)
        appendUtf8(out, *p);
    return out;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

int32_t exitStatus(const CheckReport& report) {
    int32_t status = 0;
    for (const Finding& finding : report.findings) {
        if (finding.severity == SeverityError)
            status = 2;
        else if (finding.severity == SeverityWarning && status < 1)
            status = 1;
    }
    return status;
}

void printText(const CheckReport& report, bool withLog, FILE* out) {
    fprintf(out, "quindral-check: %s\n", report.folder.c_str());
    if (report.catalogueRead) {
        fprintf(out, "catalogue: %d ball%s, previews %d x %d\n", report.ballCount, report.ballCount == 1 ? "" : "s",
                report.previewWidth, report.previewHeight);
    }
    int32_t counts[3] = {0, 0, 0};
    for (const Finding& finding : report.findings) {
        ++counts[finding.severity];
        std::string where = finding.file;
        if (finding.line > 0)
            where += ":" + std::to_string(finding.line);
        std::string ball;
        if (finding.ball == RandomEntry)
            ball = "random entry: ";
        else if (finding.ball >= 0)
            ball = "ball " + std::to_string(finding.ball) + ": ";
        fprintf(out, "%s: %s: %s%s [%s]\n", where.c_str(), severityName(finding.severity), ball.c_str(),
                finding.message.c_str(), finding.kind.c_str());
    }
    if (!report.balls.empty()) {
        fprintf(out, "what the game gets:\n");
        for (const BallSummary& ball : report.balls) {
            fprintf(out, "  ball %d  folder %s  model %s  preview %s  name %s\n", ball.number,
                    quoted(ball.folder).c_str(), ball.model ? "ball.bin" : "(the game's own ball)",
                    ball.preview.c_str(), quoted(ball.hasDisplayName ? ball.displayName : ball.listName).c_str());
        }
        fprintf(out, "  random entry  preview %s\n", report.random.preview.c_str());
    }
    fprintf(out, "%d error%s, %d warning%s, %d note%s\n", counts[2], counts[2] == 1 ? "" : "s", counts[1],
            counts[1] == 1 ? "" : "s", counts[0], counts[0] == 1 ? "" : "s");
    if (withLog) {
        fprintf(out, "the module's log:\n");
        for (const std::string& line : report.log)
            fprintf(out, "  log | %s\n", line.c_str());
    }
}

void printJson(const CheckReport& report, FILE* out) {
    int32_t counts[3] = {0, 0, 0};
    for (const Finding& finding : report.findings)
        ++counts[finding.severity];
    fprintf(out, "{\n  \"folder\": %s,\n  \"loaderDir\": %s,\n", jsonString(report.folder).c_str(),
            jsonString(report.loaderDir).c_str());
    fprintf(out, "  \"status\": %d,\n  \"errors\": %d,\n  \"warnings\": %d,\n  \"notes\": %d,\n", exitStatus(report),
            counts[2], counts[1], counts[0]);
    fprintf(out, "  \"catalogue\": {\"read\": %s, \"ballCount\": %d, \"previewWidth\": %d, \"previewHeight\": %d},\n",
            report.catalogueRead ? "true" : "false", report.ballCount, report.previewWidth, report.previewHeight);
    fprintf(out, "  \"findings\": [");
    for (size_t i = 0; i < report.findings.size(); ++i) {
        const Finding& f = report.findings[i];
        fprintf(
            out,
            "%s\n    {\"severity\": \"%s\", \"kind\": %s, \"file\": %s, \"line\": %s, \"ball\": %s, \"message\": %s",
            i == 0 ? "" : ",", severityName(f.severity), jsonString(f.kind).c_str(), jsonString(f.file).c_str(),
            f.line > 0 ? std::to_string(f.line).c_str() : "null", ballJson(f.ball).c_str(),
            jsonString(f.message).c_str());
        for (const Detail& detail : f.details) {
            fprintf(out, ", %s: %s", jsonString(detail.name).c_str(),
                    detail.isNumber ? std::to_string(detail.number).c_str() : jsonString(detail.text).c_str());
        }
        fprintf(out, "}");
    }
    fprintf(out, "%s],\n  \"balls\": [", report.findings.empty() ? "" : "\n  ");
    for (size_t i = 0; i < report.balls.size(); ++i) {
        fprintf(out, "%s\n", i == 0 ? "" : ",");
        printBallJson(report.balls[i], false, out);
    }
    if (report.catalogueRead && report.ballCount > 0) {
        fprintf(out, "%s\n", report.balls.empty() ? "" : ",");
        printBallJson(report.random, true, out);
    }
    fprintf(out, "\n  ],\n  \"log\": [");
    for (size_t i = 0; i < report.log.size(); ++i)
        fprintf(out, "%s\n    %s", i == 0 ? "" : ",", jsonString(report.log[i]).c_str());
    fprintf(out, "%s]\n}\n", report.log.empty() ? "" : "\n  ");
}
