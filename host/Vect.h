#pragma once

// Host vector and matrix types. Plain data.
struct Vect2 {
    float x = 0.0f;
    float y = 0.0f;

    Vect2() = default;
    Vect2(float xIn, float yIn) : x(xIn), y(yIn) {}

    // Component-wise.
    Vect2& operator*=(const Vect2& other) {
        x *= other.x;
        y *= other.y;
        return *this;
    }
};

struct Vect {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

struct Vect4 {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
};

struct Matrix {
    Vect4 rows[4];
};
