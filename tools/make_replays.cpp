// Writes replay files made by the test writer.
//
//   zarvik-make-replays DIR           a handful of varied, realistic replays
//   zarvik-make-replays --corpus DIR  small seeds for the replay fuzzer

#include "testkit/replay_writer.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using replay_writer::ReplayPlan;

struct Named {
    std::string name;
    std::vector<unsigned char> bytes;
};

std::vector<Named> demo_replays() {
    // Each demo differs in player, character, difficulty, stage count, date
    // and size; the body sizes are in the range of real replays.
    struct Demo {
        const char* player;
        std::uint8_t character, ctype, rank, stages;
        const char* date;
        std::size_t body_bytes;
    };
    const Demo demos[] = {
        {"Deniz", 0, 0, 1, 6, "14/08/09 18:32", 0x30000},
        {"AYSEGUL", 1, 2, 2, 3, "15/01/22 07:05", 0x14000},
        {"kerem", 2, 1, 3, 6, "16/11/30 23:59", 0x38000},
        {"zeynep_k", 0, 2, 4, 1, "19/03/03 12:00", 0x9000},
        {"oz", 1, 0, 0, 2, "21/06/15 20:41", 0xA000},
        {"burak_07", 2, 2, 1, 5, "24/12/31 00:01", 0x28000},
    };
    std::vector<Named> out;
    std::uint32_t seed = 101;
    for (const Demo& demo : demos) {
        ReplayPlan plan = replay_writer::sample_plan(seed++, demo.body_bytes);
        plan.player = demo.player;
        plan.character = demo.character;
        plan.ctype = demo.ctype;
        plan.rank = demo.rank;
        plan.date = demo.date;
        // Keep the records consistent with the chosen stage count.
        plan.stage_count = demo.stages;
        plan.clear = static_cast<std::uint8_t>(demo.stages == 6 ? 8 : demo.stages);
        plan.stages.clear();
        std::uint32_t score = 0;
        for (std::uint32_t i = 0; i < demo.stages; ++i) {
            const auto length = static_cast<std::uint32_t>(demo.body_bytes / demo.stages - 0x1C4);
            plan.stages.push_back(replay_writer::Stage{score, length + 97 * i});
            score += 180000 + 37000 * i + seed * 1300;
        }
        plan.final_score = score;
        char name[32];
        std::snprintf(name, sizeof name, "demo_%02zu.rpy", out.size() + 1);
        out.push_back({name, replay_writer::build_replay(plan)});
    }
    return out;
}

std::vector<Named> corpus() {
    std::vector<Named> out;
    // Sound replays of every stage-count shape, kept small for the fuzzer.
    const std::uint8_t counts[] = {0, 1, 3, 6, 7};
    for (std::uint8_t count : counts) {
        ReplayPlan plan = replay_writer::sample_plan(count + 1u, 0x300);
        plan.stage_count = count;
        plan.stages.resize(count, replay_writer::Stage{1000, 40});
        out.push_back(
            {"stages_" + std::to_string(count) + ".rpy", replay_writer::build_replay(plan)});
    }
    // Broken ones next to the limits: a walk off the end, a short body, a
    // cut file, a bare header, no date.
    ReplayPlan plan = replay_writer::sample_plan(9, 0x200);
    plan.stage_count = 4;
    plan.stages.resize(1);
    out.push_back({"walk_off.rpy", replay_writer::build_replay(plan)});
    std::vector<unsigned char> body = replay_writer::build_body(replay_writer::sample_plan(10, 0));
    body.resize(0x50);
    out.push_back({"short_body.rpy", replay_writer::pack_replay(body, "Date 20/02/02 02:02")});
    std::vector<unsigned char> cut = out.front().bytes;
    cut.resize(cut.size() / 2);
    out.push_back({"cut.rpy", cut});
    cut.resize(0x24);
    out.push_back({"header_only.rpy", cut});
    plan = replay_writer::sample_plan(11, 0x100);
    plan.with_date = false;
    out.push_back({"no_date.rpy", replay_writer::build_replay(plan)});
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const bool seeds = argc == 3 && std::string(argv[1]) == "--corpus";
    if (argc != 2 && !seeds) {
        std::fprintf(stderr, "usage: %s [--corpus] DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[argc - 1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "cannot create %s: %s\n", dir.string().c_str(),
                     error.message().c_str());
        return 1;
    }
    for (const Named& file : seeds ? corpus() : demo_replays()) {
        const std::string path = (dir / file.name).string();
        if (!replay_writer::write_file(path, file.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
