#pragma once

// Every value other than EulerMethod integrates with the midpoint scheme.
enum IntegrationMethod
{
    EulerMethod = 1,
    RungeKuttaMethod = 2
};
