#pragma once
// What the certificate tests share: a clean bench (one token, no container),
// an empty personal store, default settings, and a check that the stand-in
// provider was left with no context or key open.

#include "settings/settings.h"
#include "support/agent_log.h"
#include "support/bench_carriers.h"
#include "support/bench_provider.h"
#include "support/personal_store.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

class CertificateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_carriers::clear_all();
        bench_provider::clear();
        personal_store::clear();
        bench_carriers::insert_token(token);
        agent_log::clear();
    }
    void TearDown() override
    {
        EXPECT_EQ(0, bench_provider::open_contexts());
        EXPECT_EQ(0, bench_provider::open_keys());
        personal_store::clear();
        bench_provider::clear();
        bench_carriers::clear_all();
    }

    static std::string certificate(const std::string& serial, const std::string& subject_cn,
                                   const std::string& issuer_cn = "Keyhaven Test CA", long long days_left = 400)
    {
        bench_provider::CertificateSpec wanted;
        wanted.serial = serial;
        wanted.subject_cn = subject_cn;
        wanted.issuer_cn = issuer_cn;
        wanted.not_after = bench_provider::utc_from_now(days_left * 86400);
        return bench_provider::make_certificate(wanted);
    }

    // A container on the test token holding that certificate; returns the
    // name the provider reports for it.
    std::string container(const std::string& name, const std::string& der, const std::string& keys = "1")
    {
        bench_provider::add_container(name, "token:" + token, keys, der);
        return bench_provider::qualified_name(name, "token:" + token);
    }

    const std::string token = "C001";
    Settings settings;
};
